// How the FileList answers the user: the wait cursor while a folder is read,
// a second click on a selected name to rename it, and the keyboard focus
// following the selection.

#include "control_ids.h"
#include "feedback_recorder.h"
#include "file_list_model.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QStyleHints>
#include <QTreeView>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class FileListInteraction : public WindowTest {
protected:
    QTreeView* list() { return browserOf(window()).fileList(); }

    void clickCell(const QString& name, int column = 0) {
        const QModelIndex index = browserOf(window()).model()->index(rowOf(name), column);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualRect(index).center());
    }

    QList<QLineEdit*> editors() { return list()->findChildren<QLineEdit*>(); }

    // Long enough for a second click not to be part of a double click.
    static void pastDoubleClick() {
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 100);
    }
};

TEST_F(FileListInteraction, TheWaitCursorShowsWhileAFolderIsReadAndNotForAMissingOne) {
    makeFile(QStringLiteral("a.txt"));
    MainWindow& w = window();
    QList<int> seen; // the override cursor when the rows were replaced; -1 for none
    QObject::connect(browserOf(w).model(), &QAbstractItemModel::modelAboutToBeReset, &w, [&seen] {
        const QCursor* cursor = QApplication::overrideCursor();
        seen.append(cursor ? int(cursor->shape()) : -1);
    });

    browserOf(w).listCurDir();
    m_settings.curDir = m_dir.filePath(QStringLiteral("missing"));
    browserOf(w).listCurDir();
    EXPECT_EQ(browserOf(w).model()->rowCount(), 0);
    m_settings.curDir.clear(); // the volumes
    browserOf(w).listCurDir();

    EXPECT_EQ(seen, (QList<int>{int(Qt::WaitCursor), -1, int(Qt::WaitCursor)}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is given back";
}

TEST_F(FileListInteraction, ASecondClickOnASelectedNameStartsRenaming) {
    makeFile(QStringLiteral("a.txt"));
    makeFile(QStringLiteral("b.txt"));
    ASSERT_TRUE(resizeTo(640, 400));
    browserOf(window()).listCurDir();

    clickCell(QStringLiteral("a.txt"));
    pastDoubleClick();
    EXPECT_TRUE(editors().isEmpty()) << "the first click only selects";
    // Another column of the selected row is not its name.
    clickCell(QStringLiteral("a.txt"), FileListModel::SizeColumn);
    pastDoubleClick();
    EXPECT_TRUE(editors().isEmpty());

    clickCell(QStringLiteral("a.txt"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !editors().isEmpty(); }, 5000));
    QLineEdit* editor = editors().first();
    EXPECT_EQ(editor->text(), QStringLiteral("a.txt"));
    editor->setText(QStringLiteral("renamed.txt"));
    QTest::keyClick(editor, Qt::Key_Return); // the edit ends from the event loop
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return QFile::exists(m_dir.filePath(QStringLiteral("renamed.txt"))); }, 5000));
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("a.txt"))));
}

TEST_F(FileListInteraction, AClickOnASelectedFolderEntersItAndRenamesNothing) {
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("Sub/Inner")));
    ASSERT_TRUE(resizeTo(640, 400));
    browserOf(window()).listCurDir();
    const QModelIndex sub = browserOf(window()).model()->index(rowOf(QStringLiteral("Sub")), 0);
    list()->setFocus();
    list()->setCurrentIndex(sub);
    list()->selectionModel()->select(sub, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    clickCell(QStringLiteral("Sub"));
    EXPECT_EQ(m_settings.curDir, m_dir.filePath(QStringLiteral("Sub")));
    pastDoubleClick();
    EXPECT_TRUE(editors().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(m_dir.filePath(QStringLiteral("Sub/Inner"))));
}

TEST_F(FileListInteraction, ADoubleClickOnASelectedFileAddsItWithoutRenaming) {
    makeFile(QStringLiteral("a.txt"));
    ASSERT_TRUE(resizeTo(640, 400));
    browserOf(window()).listCurDir();
    clickCell(QStringLiteral("a.txt"));
    pastDoubleClick();
    const QModelIndex index = browserOf(window()).model()->index(rowOf(QStringLiteral("a.txt")), 0);
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, list()->visualRect(index).center());
    pastDoubleClick();
    EXPECT_EQ(sendListOf(window()).model()->fileCount(), 1);
    EXPECT_TRUE(editors().isEmpty());
}

TEST_F(FileListInteraction, AChangedSelectionGivesTheFileListTheFocus) {
    makeFile(QStringLiteral("a.txt"));
    makeFile(QStringLiteral("b.txt"));
    MainWindow& w = window();
    browserOf(w).listCurDir();
    w.addPaths({m_dir.filePath(QStringLiteral("b.txt"))});
    QTreeView* sendList = sendListOf(w).view();

    sendList->setFocus();
    ASSERT_EQ(w.focusWidget(), sendList);
    command(w, id::SelectAll); // from the context menu, as the keys go elsewhere
    EXPECT_EQ(w.focusWidget(), list());

    sendList->setFocus();
    list()->selectionModel()->select(browserOf(w).model()->index(0, 0),
                                     QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    EXPECT_EQ(w.focusWidget(), list());

    // The SendList's own selection leaves the focus where the user put it.
    sendList->setFocus();
    selectSendListRow(w, 0);
    EXPECT_EQ(w.focusWidget(), sendList);
}

} // namespace
