// The file-management commands as the window runs them: the question comes
// first, the folder is listed again afterwards, a new folder waits for its name.

#include "control_ids.h"
#include "feedback_recorder.h"
#include "file_list_model.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTreeView>

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

    void makeFile(const QString& name) {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }

    int rowOf(const QString& name) {
        FileListModel* model = browserOf(window()).model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->record(row).name == name)
                return row;
        return -1;
    }

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
