// The file-management commands as the window runs them: the question comes
// first, the folder is listed again afterwards, a new folder waits for its name.

#include "control_ids.h"
#include "copy_to_dialog.h"
#include "directory_picker_dialog.h"
#include "feedback_recorder.h"
#include "file_list_model.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

#include <cstdlib>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class FileCommandsInWindow : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        setQuestionHook([this](QWidget*, const QString& title, const QString& text) {
            questions.append(title + QStringLiteral(": ") + text);
            return answer;
        });
    }
    void TearDown() override { setQuestionHook({}); }

    void select(const QStringList& names) {
        QItemSelectionModel* selection = browserOf(window()).fileList()->selectionModel();
        selection->clearSelection();
        for (const QString& name : names)
            selection->select(browserOf(window()).model()->index(rowOf(name), 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    FeedbackRecorder m_feedback;
    QStringList questions;
    bool answer = false;
};

TEST_F(FileCommandsInWindow, DeleteAsksFirstAndNoKeepsEverything) {
    makeFile(QStringLiteral("a.txt"));
    makeFile(QStringLiteral("b.txt"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Sub")));
    browserOf(window()).listCurDir();
    select({QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("Sub")});

    answer = false;
    command(window(), id::Delete);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("3"))) << questions[0].toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 3);

    answer = true;
    command(window(), id::Delete);
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    EXPECT_EQ(browserOf(window()).model()->rowCount(), 0) << "the folder is listed again";
    EXPECT_TRUE(m_feedback.messages.isEmpty());
}

TEST_F(FileCommandsInWindow, DeleteWithoutThePromptPreferenceAsksNothing) {
    makeFile(QStringLiteral("a.txt"));
    m_settings.promptDelete = false;
    browserOf(window()).listCurDir();
    select({QStringLiteral("a.txt")});
    command(window(), id::Delete);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("a.txt"))));
}

TEST_F(FileCommandsInWindow, DeleteWithNothingSelectedAsksAboutZeroItemsThenListsAgain) {
    browserOf(window()).listCurDir();
    makeFile(QStringLiteral("arrived.txt")); // after the listing
    ASSERT_EQ(browserOf(window()).model()->rowCount(), 0);

    answer = false;
    command(window(), id::Delete);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("these 0 items")))
        << questions[0].toStdString();
    EXPECT_EQ(browserOf(window()).model()->rowCount(), 0) << "No leaves the list as it was";

    answer = true;
    command(window(), id::Delete);
    EXPECT_EQ(questions.size(), 2);
    EXPECT_EQ(browserOf(window()).model()->rowCount(), 1) << "the folder is listed again";
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("arrived.txt"))));
    EXPECT_TRUE(m_feedback.messages.isEmpty());
    EXPECT_EQ(m_feedback.beeps, 0);
}

TEST_F(FileCommandsInWindow, DeleteKeepsAReadOnlyFileAndSaysSo) {
    makeFile(QStringLiteral("kept.txt"));
    makeFile(QStringLiteral("gone.txt"));
    ASSERT_TRUE(QFile::setPermissions(m_dir.filePath(QStringLiteral("kept.txt")),
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    m_settings.promptDelete = false;
    browserOf(window()).listCurDir();
    select({QStringLiteral("kept.txt"), QStringLiteral("gone.txt")});
    command(window(), id::Delete);
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("kept.txt"))));
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("gone.txt"))));
    EXPECT_EQ(m_feedback.messages,
              QStringList{QStringLiteral("Not all of the files were deleted successfully")});
    EXPECT_EQ(browserOf(window()).model()->rowCount(), 1);
}

TEST_F(FileCommandsInWindow, MoveAndCopyWithNothingSelectedOpenTheDialogWhoseOkListsAgain) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Target")));
    m_settings.destDir = m_dir.filePath(QStringLiteral("Target"));
    browserOf(window()).listCurDir();
    for (const int commandId : {int(id::Move), int(id::CopyTo)}) {
        SCOPED_TRACE(commandId);
        makeFile(QStringLiteral("file%1.txt").arg(commandId));
        const int before = browserOf(window()).model()->rowCount();
        QString title;
        QTimer::singleShot(0, [&title] {
            auto* dialog = qobject_cast<CopyToDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            title = dialog->windowTitle();
            dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
        });
        command(window(), commandId);
        EXPECT_EQ(title, commandId == id::Move ? QStringLiteral("Move File(s)")
                                               : QStringLiteral("Copy File(s)"));
        EXPECT_EQ(browserOf(window()).model()->rowCount(), before + 1);
    }
    EXPECT_EQ(m_feedback.beeps, 0);
    EXPECT_TRUE(m_feedback.messages.isEmpty());
}

TEST_F(FileCommandsInWindow, BrowseOpensThePickerCentredOnTheScreenAndTakesItsChoice) {
    makeFile(QStringLiteral("a.txt"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Target")));
    m_settings.destDir = m_dir.path();
    m_settings.sort = 3;
    browserOf(window()).listCurDir();
    select({QStringLiteral("a.txt")});
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QPoint pickerCentre;
    int frameMargin = 0;
    QWidget* pickerOwner = &window();
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CopyToDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        // Wherever the dialog was moved and however large it was made, the
        // picker shows in the middle of the screen.
        dialog->setGeometry(0, 0, screen.width() * 3 / 4, screen.height() * 3 / 4);
        QTimer::singleShot(0, [&] {
            auto* picker = qobject_cast<DirectoryPickerDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(picker, nullptr);
            pickerCentre = picker->frameGeometry().center();
            frameMargin = (picker->frameGeometry().width() - picker->width()) / 2;
            pickerOwner = picker->parentWidget();
            picker->setPath(m_dir.filePath(QStringLiteral("Target")));
            picker->findChild<QPushButton*>(QStringLiteral("1"))->click();
        });
        dialog->findChild<QPushButton*>(QStringLiteral("1012"))->click();
        EXPECT_EQ(dialog->destination(), m_dir.filePath(QStringLiteral("Target")));
        dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
    command(window(), id::Move);
    EXPECT_EQ(pickerOwner, nullptr);
    // Placed before it first showed, when the window frame was not known yet.
    const QPoint offset = pickerCentre - screen.center();
    EXPECT_LE(std::abs(offset.x()), frameMargin + 1) << offset.x();
    EXPECT_LE(std::abs(offset.y()), frameMargin + 1) << offset.y();
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("Target/a.txt"))));
}

TEST_F(FileCommandsInWindow, NewFolderAppearsOnTopReadyForItsName) {
    makeFile(QStringLiteral("New Folder"));
    makeFile(QStringLiteral("aaa.txt"));
    browserOf(window()).listCurDir();
    command(window(), id::NewFolder);
    EXPECT_TRUE(QFileInfo(m_dir.filePath(QStringLiteral("New Folder(1)"))).isDir());
    ASSERT_GT(browserOf(window()).model()->rowCount(), 0);
    EXPECT_EQ(browserOf(window()).model()->record(0).name, QStringLiteral("New Folder(1)"));
    const auto editors = browserOf(window()).fileList()->findChildren<QLineEdit*>();
    ASSERT_EQ(editors.size(), 1) << "the name is open for editing";
    EXPECT_EQ(editors[0]->text(), QStringLiteral("New Folder(1)"));
    EXPECT_EQ(browserOf(window()).fileList()->currentIndex().row(), 0);
}

TEST_F(FileCommandsInWindow, NewFolderInTheDriveViewOnlyBeeps) {
    m_settings.curDir.clear();
    browserOf(window()).listCurDir();
    command(window(), id::NewFolder);
    EXPECT_EQ(m_feedback.beeps, 1);
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

} // namespace
