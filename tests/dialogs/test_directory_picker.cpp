// Built into ui_tests: the picker is a dialog and needs a QApplication.

#include "directory_picker_dialog.h"
#include "file_list_model.h"
#include "popup_driver.h"
#include "window_buttons.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace zapfer;

namespace {

class Picker : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("Docs/Work/Old"))));
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("Music"))));
        QFile file(m_dir.filePath(QStringLiteral("Docs/notes.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        m_volumes = {QStringLiteral("/"), m_dir.path()};
    }

    static QStringList names(const DirectoryPickerDialog& dialog) {
        QStringList out;
        for (int row = 0; row < dialog.folderModel()->rowCount(); ++row)
            out.append(dialog.folderModel()->record(row).name);
        return out;
    }

    static void clickRow(DirectoryPickerDialog& dialog, const QString& name) {
        FileListModel* model = dialog.folderModel();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->record(row).name == name) {
                const QRect cell = dialog.folderList()->visualRect(model->index(row, 0));
                QTest::mouseClick(dialog.folderList()->viewport(), Qt::LeftButton, {},
                                  cell.center());
                return;
            }
        }
        ADD_FAILURE() << "no row " << name.toStdString();
    }

    static void press(QDialog& dialog, const char* button) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
    }

    QTemporaryDir m_dir;
    QStringList m_volumes;
};

TEST_F(Picker, ListsFoldersOnlyEntersThemAndGoesUpByThePopup) {
    DirectoryPickerDialog dialog(m_dir.filePath(QStringLiteral("Docs")), m_volumes, 0);
    dialog.show();
    EXPECT_EQ(names(dialog), QStringList{QStringLiteral("Work")});
    EXPECT_EQ(dialog.pathButton()->caption(), QStringLiteral("Docs"));
    clickRow(dialog, QStringLiteral("Work"));
    clickRow(dialog, QStringLiteral("Old"));
    EXPECT_EQ(dialog.path(), m_dir.filePath(QStringLiteral("Docs/Work/Old")));
    {
        // The temporary folder is a volume here: Docs is one level below it.
        PopupDriver driver([](QMenu* menu) { return actionNamed(menu, QStringLiteral("  Docs")); });
        QTest::mouseClick(dialog.pathButton(), Qt::LeftButton);
        ASSERT_TRUE(driver.seen);
        EXPECT_EQ(driver.texts, (QStringList{QStringLiteral("My Computer"), m_dir.path(),
                                             QStringLiteral("  Docs"), QStringLiteral("    Work"),
                                             QStringLiteral("    * Old")}));
    }
    EXPECT_EQ(dialog.path(), m_dir.filePath(QStringLiteral("Docs")));
    EXPECT_EQ(names(dialog), QStringList{QStringLiteral("Work")});

    dialog.applyPathPopupChoice(3); // "My Computer"
    EXPECT_EQ(dialog.path(), QString());
    EXPECT_EQ(names(dialog), m_volumes);
    EXPECT_EQ(dialog.pathButton()->caption(), QStringLiteral("My Computer"));
    clickRow(dialog, m_dir.path());
    EXPECT_EQ(dialog.path(), m_dir.path());
    EXPECT_EQ(dialog.pathButton()->caption(), m_dir.path());
}

TEST_F(Picker, OkReturnsTheFolderShownAndCancelLeavesItForTheCallerToIgnore) {
    QString path = m_dir.path();
    QTimer::singleShot(0, [this] {
        auto* dialog = qobject_cast<DirectoryPickerDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        clickRow(*dialog, QStringLiteral("Music"));
        press(*dialog, "1");
    });
    EXPECT_EQ(SelectDirectoryDialog(nullptr, path, m_volumes, 0), DialogResult::Ok);
    EXPECT_EQ(path, m_dir.filePath(QStringLiteral("Music")));

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<DirectoryPickerDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->applyPathPopupChoice(2);
        press(*dialog, "2");
    });
    EXPECT_EQ(SelectDirectoryDialog(nullptr, path, m_volumes, 0), DialogResult::Cancelled);
    EXPECT_EQ(path, m_dir.path());

    // A folder that cannot be listed shows nothing, and OK still returns it.
    path = m_dir.filePath(QStringLiteral("gone"));
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<DirectoryPickerDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->folderModel()->rowCount(), 0);
        press(*dialog, "1");
    });
    EXPECT_EQ(SelectDirectoryDialog(nullptr, path, m_volumes, 0), DialogResult::Ok);
    EXPECT_EQ(path, m_dir.filePath(QStringLiteral("gone")));
}

TEST_F(Picker, ListsInTheSortOrderOfTheFileList) {
    for (const char* name : {"b.aa", "a.zz", "c", "Docs/d.mm"})
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QString::fromLatin1(name))));
    // Folders carry no date or size: those orders fall back to the names.
    const QStringList byName = {QStringLiteral("a.zz"), QStringLiteral("b.aa"), QStringLiteral("c"),
                                QStringLiteral("Docs"), QStringLiteral("Music")};
    const QStringList byType = {QStringLiteral("c"), QStringLiteral("Docs"),
                                QStringLiteral("Music"), QStringLiteral("b.aa"),
                                QStringLiteral("a.zz")};
    const std::pair<uint32_t, QStringList> cases[] = {
        {0, byName}, {1, byName}, {2, byName}, {3, byType}};
    for (const auto& [sort, expected] : cases) {
        SCOPED_TRACE(sort);
        DirectoryPickerDialog dialog(m_dir.path(), m_volumes, sort);
        EXPECT_EQ(names(dialog), expected);
    }
    // Entering a folder keeps the order.
    DirectoryPickerDialog dialog(m_dir.path(), m_volumes, 3);
    dialog.show();
    clickRow(dialog, QStringLiteral("Docs"));
    EXPECT_EQ(names(dialog), (QStringList{QStringLiteral("Work"), QStringLiteral("d.mm")}));
    QString path = m_dir.path();
    QTimer::singleShot(0, [&byType] {
        auto* shown = qobject_cast<DirectoryPickerDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(names(*shown), byType);
        press(*shown, "2");
    });
    EXPECT_EQ(SelectDirectoryDialog(nullptr, path, m_volumes, 3), DialogResult::Cancelled);
}

} // namespace
