#include "feedback_recorder.h"
#include "file_list_model.h"
#include "path_list.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTreeView>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class SendListCommands : public WindowTest {
protected:
    QString makeFile(const QString& relative, int64_t size = 10) {
        const QString path = m_dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        EXPECT_TRUE(file.resize(size));
        return path;
    }

    // Selects the FileList rows with these names (and no others).
    void select(const QStringList& names) {
        FileListModel* model = browserOf(window()).model();
        QItemSelectionModel* selection = browserOf(window()).fileList()->selectionModel();
        selection->clearSelection();
        int found = 0;
        for (int row = 0; row < model->rowCount(); ++row) {
            if (names.contains(model->record(row).name)) {
                selection->select(model->index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
                ++found;
            }
        }
        ASSERT_EQ(found, names.size());
    }

    QStringList queuedNames() {
        QStringList out;
        for (int i = 0; i < sendListOf(window()).model()->fileCount(); ++i)
            out.append(sendListText(window(), i, SendListModel::NameColumn));
        return out;
    }

    FeedbackRecorder m_feedback;
};

TEST_F(SendListCommands, TheLimitCountsEverySelectedRowFoldersIncluded) {
    QStringList queued;
    for (int i = 0; i < 95; ++i)
        queued.append(makeFile(QStringLiteral("queued/q%1").arg(i)));
    for (int i = 0; i < 5; ++i)
        makeFile(QStringLiteral("f%1").arg(i));
    MainWindow& w = window();
    browserOf(w).listCurDir();
    ASSERT_EQ(w.addPaths(queued), 95);
    select({QStringLiteral("queued"), QStringLiteral("f0"), QStringLiteral("f1"),
            QStringLiteral("f2"), QStringLiteral("f3"), QStringLiteral("f4")});
    command(w, 40026);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 95);
    EXPECT_EQ(m_feedback.messages,
              QStringList{QStringLiteral("A maximum of 100 files can be sent at one time.")});
    EXPECT_EQ(m_feedback.titles, QStringList{QStringLiteral("Error")});
    EXPECT_EQ(m_feedback.beeps, 0);

    // Five rows fit exactly.
    select({QStringLiteral("f0"), QStringLiteral("f1"), QStringLiteral("f2"), QStringLiteral("f3"),
            QStringLiteral("f4")});
    command(w, 40026);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 100);
    EXPECT_EQ(m_feedback.messages.size(), 1);
}

TEST_F(SendListCommands, AFolderAndTwoFilesAddTheFilesNewestFirstWithOneBeep) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Folder")));
    makeFile(QStringLiteral("a.txt"), 1000);
    makeFile(QStringLiteral("b.txt"), 2000);
    MainWindow& w = window();
    browserOf(w).listCurDir();
    select({QStringLiteral("Folder"), QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    command(w, 40026);
    EXPECT_EQ(m_feedback.beeps, 1);
    EXPECT_TRUE(m_feedback.messages.isEmpty());
    EXPECT_EQ(queuedNames(), (QStringList{QStringLiteral("b.txt"), QStringLiteral("a.txt")}));
    EXPECT_EQ(sendListOf(w).model()->totalBytes(), 3000);
    EXPECT_EQ(sendListText(w, 0, SendListModel::SizeColumn), QStringLiteral("1.9K"));
    EXPECT_EQ(sendListText(w, 0, SendListModel::PathColumn),
              m_dir.filePath(QStringLiteral("b.txt")));
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 2  Bytes: 2.9K"));

    // The action key adds the selection too, here a name already queued:
    // nothing changes and nothing beeps.
    select({QStringLiteral("a.txt")});
    QTest::keyClick(browserOf(w).fileList(), Qt::Key_F23);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 2);
    EXPECT_EQ(m_feedback.beeps, 1);
}

TEST_F(SendListCommands, NamesAreUniqueIgnoringCaseAcrossFolders) {
    makeFile(QStringLiteral("one/report.txt"), 5);
    makeFile(QStringLiteral("two/REPORT.TXT"), 7);
    m_settings.curDir = m_dir.filePath(QStringLiteral("one"));
    MainWindow& w = window();
    select({QStringLiteral("report.txt")});
    command(w, 40026);
    m_settings.curDir = m_dir.filePath(QStringLiteral("two"));
    browserOf(w).listCurDir();
    select({QStringLiteral("REPORT.TXT")});
    command(w, 40026);
    EXPECT_EQ(queuedNames(), QStringList{QStringLiteral("report.txt")});
    EXPECT_EQ(sendListOf(w).model()->totalBytes(), 5);
    EXPECT_EQ(m_feedback.beeps, 0);
    // Dropped or handed over, the twin is skipped in the same way.
    EXPECT_EQ(w.addPaths({m_dir.filePath(QStringLiteral("two/REPORT.TXT"))}), 0);
}

TEST_F(SendListCommands, RemovingRowsOneAndThreeOfFiveKeepsTheOthersInOrder) {
    MainWindow& w = window();
    QStringList paths;
    for (int i = 0; i < 5; ++i)
        paths.append(makeFile(QStringLiteral("r%1").arg(i), 100 * (i + 1)));
    ASSERT_EQ(w.addPaths(paths), 5);
    ASSERT_EQ(queuedNames(),
              (QStringList{QStringLiteral("r4"), QStringLiteral("r3"), QStringLiteral("r2"),
                           QStringLiteral("r1"), QStringLiteral("r0")}));
    ASSERT_EQ(sendListOf(w).model()->totalBytes(), 1500);
    selectSendListRow(w, 1); // r3, 400 bytes
    selectSendListRow(w, 3); // r1, 200 bytes
    command(w, 40021);
    EXPECT_EQ(queuedNames(),
              (QStringList{QStringLiteral("r4"), QStringLiteral("r2"), QStringLiteral("r0")}));
    EXPECT_EQ(sendListOf(w).model()->totalBytes(), 900);
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 3  Bytes: 900B"));
    EXPECT_EQ(m_feedback.beeps, 0);

    sendListOf(w).view()->clearSelection();
    command(w, 40021);
    EXPECT_EQ(m_feedback.beeps, 1);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 3);
}

TEST(PathList, FolderWithNamesSinglePathAndEmptyList) {
    const QStringList folderAndNames = {QStringLiteral("/data/Docs"), QStringLiteral("a.txt"),
                                        QStringLiteral("b.txt")};
    EXPECT_EQ(pathListCount(folderAndNames), 2);
    EXPECT_EQ(PathListEntry(folderAndNames, 0), QStringLiteral("/data/Docs/a.txt"));
    EXPECT_EQ(PathListEntry(folderAndNames, 1), QStringLiteral("/data/Docs/b.txt"));
    EXPECT_EQ(PathListEntry(folderAndNames, 2), QString());

    const QStringList atRoot = {QStringLiteral("/"), QStringLiteral("a.txt"),
                                QStringLiteral("b.txt")};
    EXPECT_EQ(PathListEntry(atRoot, 0), QStringLiteral("/a.txt"));
    EXPECT_EQ(PathListEntry(atRoot, 1), QStringLiteral("/b.txt"));

    const QStringList single = {QStringLiteral("/data/one.txt")};
    EXPECT_EQ(pathListCount(single), 1);
    EXPECT_EQ(PathListEntry(single, 0), QStringLiteral("/data/one.txt"));
    // The list ends at its first empty string.
    EXPECT_EQ(pathListCount({QString(), QStringLiteral("x")}), 0);
    EXPECT_EQ(pathListCount({QStringLiteral("/d"), QString(), QStringLiteral("x")}), 1);
}

TEST_F(SendListCommands, AddPathListAddsTheFilesOfAFolderAndTwoNames) {
    makeFile(QStringLiteral("Docs/a.txt"), 3);
    makeFile(QStringLiteral("Docs/b.txt"), 4);
    MainWindow& w = window();
    EXPECT_EQ(sendListOf(w).addPathList({m_dir.filePath(QStringLiteral("Docs")),
                                         QStringLiteral("a.txt"), QStringLiteral("b.txt")}),
              2);
    EXPECT_EQ(sendListOf(w).model()->paths(),
              (QStringList{m_dir.filePath(QStringLiteral("Docs/b.txt")),
                           m_dir.filePath(QStringLiteral("Docs/a.txt"))}));
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 2  Bytes: 7B"));
    EXPECT_TRUE(m_feedback.messages.isEmpty());
    EXPECT_EQ(m_feedback.beeps, 0);
}

TEST_F(SendListCommands, FilesThatCannotBeSentAreRefusedByName) {
    const QString big = makeFile(QStringLiteral("huge.iso"), int64_t(1) << 31);
    const QString fits = makeFile(QStringLiteral("fits.iso"), (int64_t(1) << 31) - 1);
    const QString longName = makeFile(QString(126, QLatin1Char('n')));
    const QString longest = makeFile(QString(125, QLatin1Char('m')));
    // The receiver would take the backslash for a folder, and refuse the tab.
    const QString backslash = makeFile(QStringLiteral("back\\slash.txt"));
    const QString tab = makeFile(QStringLiteral("tab\there.txt"));
    MainWindow& w = window();
    EXPECT_EQ(w.addPaths({big, fits, longName, longest, backslash, tab}), 2);
    EXPECT_EQ(queuedNames(),
              (QStringList{QString(125, QLatin1Char('m')), QStringLiteral("fits.iso")}));
    ASSERT_EQ(m_feedback.messages.size(), 1);
    const QString text = m_feedback.messages.first();
    EXPECT_TRUE(text.contains(big)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("2 GB"))) << text.toStdString();
    EXPECT_TRUE(text.contains(longName)) << text.toStdString();
    EXPECT_TRUE(text.contains(backslash)) << text.toStdString();
    EXPECT_TRUE(text.contains(tab)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("control character or a backslash")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(fits)) << text.toStdString();

    // From the FileList as well, with no beep: the file was readable.
    browserOf(w).listCurDir();
    select({QStringLiteral("huge.iso")});
    command(w, 40026);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 2);
    ASSERT_EQ(m_feedback.messages.size(), 2);
    EXPECT_TRUE(m_feedback.messages.last().contains(big));
    EXPECT_EQ(m_feedback.beeps, 0);
}

TEST_F(SendListCommands, DropsAddWhatFitsAndSayOnceThatTheRestDoesNot) {
    QStringList paths;
    for (int i = 0; i < 103; ++i)
        paths.append(makeFile(QStringLiteral("d%1").arg(i), 1));
    paths.insert(1, m_dir.filePath(QStringLiteral("no-such-file")));
    paths.insert(2, m_dir.path());
    MainWindow& w = window();
    EXPECT_EQ(w.addPaths(paths), 100);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 100);
    EXPECT_EQ(m_feedback.messages,
              QStringList{QStringLiteral("A maximum of 100 files can be sent at one time.")});
    EXPECT_EQ(m_feedback.beeps, 0);
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 100  Bytes: 100B"));
}

} // namespace
