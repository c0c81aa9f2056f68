// The History dialog on a real database in a temporary folder: what it lists
// and in which order, the files of the selected transfer, "Send Again",
// "Open Folder", and a history that cannot be read.

#include "history_dialog.h"
#include "history_fill.h"
#include "history_texts.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <sqlite3.h>

using namespace zapfer;
using namespace zapfer::test;
using history::Direction;
using history::FileResult;
using history::TransferOutcome;

namespace {

constexpr std::int64_t kMonday = 1796000000000; // some day in December 2026

// Stands in for the desktop: what QDesktopServices::openUrl was asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class HistoryDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string dbPath() const {
        return m_dir.filePath(QStringLiteral("data/Quorvel/Zapfer/history.sqlite")).toStdString();
    }

    // A dialog on the database, once its first reads have been answered.
    std::unique_ptr<HistoryDialog> openDialog(const QString& destDir = {}) {
        auto dialog = std::make_unique<HistoryDialog>(
            QString::fromStdString(dbPath()), destDir, [this](const QStringList& paths) {
                m_handedOver.append(paths);
                return m_accepted < 0 ? int(paths.size()) : m_accepted;
            });
        dialog->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->isReading(); }, 10000));
        return dialog;
    }

    static QString cell(QTreeWidget* list, int row, int column) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        return item ? item->text(column) : QStringLiteral("<no row %1>").arg(row);
    }

    static void select(HistoryDialog& dialog, int row) {
        // As a click does: the current row, the only one selected.
        dialog.transferList()->setCurrentItem(dialog.transferList()->topLevelItem(row));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isReading(); }, 10000));
    }

    QTemporaryDir m_dir;
    QStringList m_handedOver;
    int m_accepted = -1; // how many files the SendList takes; all when negative
};

TEST_F(HistoryDialogTest, ListsTheTransfersNewestFirstWithTheFilesOfTheSelectedOne) {
    recordInto(dbPath(), transferRecord(Direction::Sent, TransferOutcome::Completed, kMonday),
               {fileRecord("/home/a/first.txt", FileResult::Sent, 10, 0x1234u)});
    auto refused = transferRecord(Direction::Received, TransferOutcome::Refused, kMonday + 60000,
                                  "192.168.1.9", "Anna");
    refused.refusalCode = 3;
    refused.detail = "the peer's disk is full";
    recordInto(dbPath(), refused,
               {fileRecord("photo.jpg", FileResult::Refused, 5000),
                fileRecord("notes.txt", FileResult::Stored, 40, 0xabcdu, "notes (2).txt")});
    recordInto(dbPath(), transferRecord(Direction::Sent, TransferOutcome::Failed, kMonday + 120000),
               {fileRecord("/home/a/x.bin", FileResult::Sent, 2048, 0xdeadbeefu),
                fileRecord("/home/a/y.bin", FileResult::Failed, 4096),
                fileRecord("/home/a/z.bin", FileResult::Aborted, 8192)});

    auto dialog = openDialog();
    QTreeWidget* transfers = dialog->transferList();
    ASSERT_EQ(transfers->topLevelItemCount(), 3);
    EXPECT_FALSE(dialog->messageLine()->isVisible());
    // Newest first, whatever order the rows are found in.
    EXPECT_EQ(cell(transfers, 0, HistoryDialog::OutcomeColumn), QStringLiteral("Failed"));
    EXPECT_EQ(cell(transfers, 0, HistoryDialog::FilesColumn), QStringLiteral("1 of 3"));
    EXPECT_EQ(cell(transfers, 1, HistoryDialog::DirectionColumn), QStringLiteral("Received"));
    EXPECT_EQ(cell(transfers, 1, HistoryDialog::PeerColumn), QStringLiteral("Anna (192.168.1.9)"));
    EXPECT_EQ(cell(transfers, 1, HistoryDialog::OutcomeColumn), QStringLiteral("Refused (code 3)"));
    EXPECT_EQ(transfers->topLevelItem(1)->toolTip(HistoryDialog::OutcomeColumn),
              QStringLiteral("the peer's disk is full"));
    EXPECT_EQ(cell(transfers, 2, HistoryDialog::PeerColumn), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(cell(transfers, 2, HistoryDialog::TimeColumn), timeText(kMonday));
    EXPECT_EQ(cell(transfers, 2, HistoryDialog::LinkColumn), QStringLiteral("LAN"));
    EXPECT_EQ(cell(transfers, 2, HistoryDialog::DurationColumn), QStringLiteral("2.5 s"));

    // The newest is selected on opening, its files listed in their order.
    QTreeWidget* files = dialog->fileList();
    ASSERT_EQ(files->topLevelItemCount(), 3);
    EXPECT_EQ(cell(files, 0, HistoryDialog::NameColumn), QStringLiteral("/home/a/x.bin"));
    EXPECT_EQ(cell(files, 0, HistoryDialog::CrcColumn), QStringLiteral("deadbeef"));
    EXPECT_EQ(cell(files, 0, HistoryDialog::SizeColumn), QStringLiteral("2.0K"));
    EXPECT_EQ(cell(files, 1, HistoryDialog::ResultColumn), QStringLiteral("Failed"));
    EXPECT_EQ(cell(files, 1, HistoryDialog::CrcColumn), QString()); // never read whole
    EXPECT_EQ(cell(files, 2, HistoryDialog::ResultColumn), QStringLiteral("Aborted"));

    select(*dialog, 1);
    ASSERT_EQ(files->topLevelItemCount(), 2);
    EXPECT_EQ(cell(files, 1, HistoryDialog::NameColumn), QStringLiteral("notes.txt"));
    EXPECT_EQ(cell(files, 1, HistoryDialog::StoredAsColumn), QStringLiteral("notes (2).txt"));
    // Leading zeros kept: always eight digits.
    EXPECT_EQ(cell(files, 1, HistoryDialog::CrcColumn), QStringLiteral("0000abcd"));
    EXPECT_EQ(cell(files, 0, HistoryDialog::ResultColumn), QStringLiteral("Refused"));
}

TEST_F(HistoryDialogTest, SendAgainHandsOverOnlyTheFilesOfASendThatDidNotGoThrough) {
    recordInto(dbPath(), transferRecord(Direction::Sent, TransferOutcome::Completed, kMonday),
               {fileRecord("/data/all-good.txt", FileResult::Sent, 1)});
    recordInto(dbPath(), transferRecord(Direction::Sent, TransferOutcome::Aborted, kMonday + 1000),
               {fileRecord("/data/a.txt", FileResult::Sent, 1),
                fileRecord("/data/b.txt", FileResult::Failed, 1),
                fileRecord("/data/c.txt", FileResult::SkippedUnreadable, 1),
                fileRecord("/data/d.txt", FileResult::Refused, 1),
                // No folder to find it in again: never guessed against ours.
                fileRecord("relative.txt", FileResult::Failed, 1)});
    recordInto(dbPath(),
               transferRecord(Direction::Received, TransferOutcome::Aborted, kMonday + 2000),
               {fileRecord("in.txt", FileResult::Aborted, 1)});

    auto dialog = openDialog();
    ASSERT_EQ(dialog->transferList()->topLevelItemCount(), 3);
    // A receive is nothing to send again, though a file of it failed.
    EXPECT_FALSE(dialog->sendAgainButton()->isEnabled());
    select(*dialog, 2);
    EXPECT_FALSE(dialog->sendAgainButton()->isEnabled()); // all of it went through
    select(*dialog, 1);
    ASSERT_TRUE(dialog->sendAgainButton()->isEnabled());

    QTest::mouseClick(dialog->sendAgainButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_handedOver.isEmpty(); }, 10000));
    EXPECT_EQ(m_handedOver,
              (QStringList{QStringLiteral("/data/b.txt"), QStringLiteral("/data/c.txt"),
                           QStringLiteral("/data/d.txt")}));
    EXPECT_TRUE(dialog->messageLine()->text().startsWith(
        QStringLiteral("3 of 4 files put back into the Send List;")))
        << dialog->messageLine()->text().toStdString();

    // Those the SendList would not take are said, not passed over.
    m_handedOver.clear();
    m_accepted = 1;
    QTest::mouseClick(dialog->sendAgainButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_handedOver.isEmpty(); }, 10000));
    EXPECT_TRUE(dialog->messageLine()->text().startsWith(
        QStringLiteral("1 of 4 files put back into the Send List;")))
        << dialog->messageLine()->text().toStdString();
}

TEST_F(HistoryDialogTest, OpenFolderOpensTheFolderAReceivedFileWentTo) {
    QDir(m_dir.path()).mkpath(QStringLiteral("dest/sub"));
    const QString dest = m_dir.filePath(QStringLiteral("dest"));
    recordInto(dbPath(), transferRecord(Direction::Received, TransferOutcome::Completed, kMonday),
               {fileRecord("report.pdf", FileResult::Stored, 9, 1u, "report (2).pdf")});
    const std::string elsewhere = m_dir.filePath(QStringLiteral("dest/sub/kept.txt")).toStdString();
    recordInto(dbPath(),
               transferRecord(Direction::Received, TransferOutcome::Completed, kMonday + 1000),
               {fileRecord("kept.txt", FileResult::Stored, 9, 1u, elsewhere)});
    recordInto(
        dbPath(), transferRecord(Direction::Received, TransferOutcome::Completed, kMonday + 2000),
        {fileRecord("gone.txt", FileResult::Stored, 9, 1u, "/nonexistent-zapfer/x/gone.txt")});
    recordInto(dbPath(),
               transferRecord(Direction::Sent, TransferOutcome::Completed, kMonday + 3000),
               {fileRecord("/data/out.txt", FileResult::Sent, 1)});

    UrlRecorder desktop;
    auto dialog = openDialog(dest);
    ASSERT_EQ(dialog->transferList()->topLevelItemCount(), 4);
    EXPECT_FALSE(dialog->openFolderButton()->isEnabled()); // a send: nothing was stored here

    select(*dialog, 1); // the folder was gone before the user looked
    ASSERT_TRUE(dialog->openFolderButton()->isEnabled());
    QTest::mouseClick(dialog->openFolderButton(), Qt::LeftButton);
    EXPECT_TRUE(desktop.opened.isEmpty());
    EXPECT_TRUE(dialog->messageLine()->text().contains(QStringLiteral("/nonexistent-zapfer/x")));

    select(*dialog, 2); // a stored path of its own
    QTest::mouseClick(dialog->openFolderButton(), Qt::LeftButton);
    select(*dialog, 3); // a name in the destination folder
    QTest::mouseClick(dialog->openFolderButton(), Qt::LeftButton);
    ASSERT_EQ(desktop.opened.size(), 2);
    EXPECT_EQ(desktop.opened[0].toLocalFile(), m_dir.filePath(QStringLiteral("dest/sub")));
    EXPECT_EQ(desktop.opened[1].toLocalFile(), dest);
}

TEST_F(HistoryDialogTest, AHistoryThatCannotBeReadIsSaidInTheDialog) {
    // None yet: said as such, and looking creates nothing.
    {
        auto dialog = openDialog();
        EXPECT_EQ(dialog->transferList()->topLevelItemCount(), 0);
        EXPECT_EQ(dialog->messageLine()->text(),
                  QStringLiteral("No transfers have been recorded yet."));
        EXPECT_FALSE(QFile::exists(QString::fromStdString(dbPath())));
    }
    // Written by a newer Zapfer: refused, and left as it is.
    recordInto(dbPath(), transferRecord(Direction::Sent, TransferOutcome::Completed, kMonday), {});
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(dbPath().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 999", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        auto dialog = openDialog();
        EXPECT_EQ(dialog->transferList()->topLevelItemCount(), 0);
        EXPECT_TRUE(dialog->messageLine()->isVisible());
        EXPECT_TRUE(
            dialog->messageLine()->text().startsWith(QStringLiteral("The history cannot be read:")))
            << dialog->messageLine()->text().toStdString();
        EXPECT_FALSE(dialog->sendAgainButton()->isEnabled());
    }
    // A folder where the database should be.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(dbPath())));
    QFile::remove(QString::fromStdString(dbPath() + "-wal"));
    QFile::remove(QString::fromStdString(dbPath() + "-shm"));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dbPath())));
    {
        auto dialog = openDialog();
        EXPECT_TRUE(
            dialog->messageLine()->text().startsWith(QStringLiteral("The history cannot be read:")))
            << dialog->messageLine()->text().toStdString();
    }
}

TEST_F(HistoryDialogTest, ADamagedHistoryIsMovedAsideAndSaid) {
    QDir().mkpath(QFileInfo(QString::fromStdString(dbPath())).path());
    QFile garbage(QString::fromStdString(dbPath()));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(8192, 'x'));
    garbage.close();

    auto dialog = openDialog();
    EXPECT_EQ(dialog->transferList()->topLevelItemCount(), 0);
    EXPECT_TRUE(dialog->messageLine()->text().contains(QStringLiteral("moved")))
        << dialog->messageLine()->text().toStdString();
    const QStringList aside = QFileInfo(garbage).dir().entryList({QStringLiteral("*.corrupt-*")});
    EXPECT_EQ(aside.size(), 1);
}

// Another program holds the database past the read's busy timeout: the
// window goes on, and the dialog says why the list is empty.
TEST_F(HistoryDialogTest, AHistoryLockedByAnotherProgramIsSaidWithoutFreezing) {
    recordInto(dbPath(), transferRecord(Direction::Sent, TransferOutcome::Completed, kMonday), {});
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE", nullptr,
                           nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(holder);

    HistoryDialog dialog(QString::fromStdString(dbPath()), {}, nullptr);
    dialog.show();
    // The constructor is back before the read has its answer.
    EXPECT_TRUE(dialog.isReading());
    EXPECT_EQ(dialog.messageLine()->text(), QStringLiteral("Reading the history..."));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isReading(); }, 15000));
    EXPECT_TRUE(dialog.messageLine()->text().contains(QStringLiteral("locked")))
        << dialog.messageLine()->text().toStdString();

    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    dialog.reload();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isReading(); }, 15000));
    EXPECT_EQ(dialog.transferList()->topLevelItemCount(), 1);
    EXPECT_FALSE(dialog.messageLine()->isVisible());
}

TEST(HistoryTexts, NamesChecksumsAndFolders) {
    EXPECT_EQ(crcText(0u), QStringLiteral("00000000"));
    EXPECT_EQ(crcText(0xffffffffu), QStringLiteral("ffffffff"));
    EXPECT_EQ(crcText(std::nullopt), QString());
    // A peer's name cannot break a row apart.
    const QString name = visibleText("evil\nname\x1b[31m");
    EXPECT_FALSE(name.contains(QLatin1Char('\n')));
    EXPECT_FALSE(name.contains(QChar(0x1b)));
    EXPECT_TRUE(name.startsWith(QStringLiteral("evil")));
    EXPECT_EQ(visibleText("Grüße"), QStringLiteral("Grüße"));

    EXPECT_EQ(folderOfStoredName(QStringLiteral("a.txt"), QStringLiteral("/dest")),
              QStringLiteral("/dest"));
    EXPECT_EQ(folderOfStoredName(QStringLiteral("/other/place/a.txt"), QStringLiteral("/dest")),
              QStringLiteral("/other/place"));
    EXPECT_EQ(folderOfStoredName(QStringLiteral("sub/a.txt"), QStringLiteral("/dest/")),
              QStringLiteral("/dest/sub"));
    EXPECT_EQ(folderOfStoredName(QString(), QStringLiteral("/dest")), QString());
}

} // namespace

#include "test_history_dialog.moc"
