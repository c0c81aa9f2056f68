// The window records each transfer in the history off its GUI thread, and a
// history that cannot be written is said once, after the transfer's result.

#include "feedback_recorder.h"
#include "history_store.h"
#include "main_window.h"
#include "transfer_controller.h"
#include "window_peer.h"
#include "window_start.h"
#include "zapfer_app.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>
#include <zlib.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class WindowHistory : public AppWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AppWindowTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(makeFolders({"dest", "out", "data"}));
        m_oldData = qgetenv("XDG_DATA_HOME");
        seedSettings({{"DestDir", dir("dest")}, {"CommType", 6}});
    }
    void TearDown() override {
        m_app.reset();
        qputenv("XDG_DATA_HOME", m_oldData);
    }

    // A zapfer-cli sends `files` to the window; true once the window has
    // reported the receive and its record is written or given up.
    bool receiveFrom(MainWindow* window, const QStringList& files) {
        QSignalSpy finished(window, &MainWindow::receiveFinished);
        CliPeer peer;
        if (!peer.send(m_app->engine()->listenPort(), files))
            return false;
        if (!QTest::qWaitFor([&] { return finished.count() == 1; }, 30000))
            return false;
        peer.waitExit();
        if (!transfersOf(*window).recording()->waitIdle(30000))
            return false;
        QCoreApplication::processEvents(); // the queued word of a problem
        return true;
    }

    QByteArray m_oldData;
};

} // namespace

TEST_F(WindowHistory, ReceivesAreRecordedWithTheirChecksums) {
    qputenv("XDG_DATA_HOME", dir("data").toLocal8Bit());
    MainWindow* window = startWindow();
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    const QByteArray bytes(200000, 'k');
    ASSERT_TRUE(receiveFrom(window, {makeFile(QStringLiteral("k.bin"), bytes)}));
    EXPECT_EQ(feedback.messages, QStringList{QStringLiteral("1 of 1 files received successfully")});

    auto store = history::HistoryStore::open(
        (dir("data") + QStringLiteral("/Quorvel/Zapfer/history.sqlite")).toStdString());
    ASSERT_TRUE(store.ok());
    auto transfers = store.value().recentTransfers(-1);
    ASSERT_TRUE(transfers.ok());
    // The zapfer-cli peer shares the data folder, and so the history: its
    // send and the window's receive, with one checksum.
    ASSERT_EQ(transfers.value().size(), 2u);
    const uint32_t expected =
        uint32_t(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
    int received = 0;
    for (const auto& transfer : transfers.value()) {
        auto files = store.value().filesOf(transfer.id);
        ASSERT_TRUE(files.ok());
        ASSERT_EQ(files.value().size(), 1u);
        EXPECT_EQ(files.value()[0].crc32, expected);
        if (transfer.record.direction != history::Direction::Received)
            continue;
        ++received;
        EXPECT_EQ(transfer.record.peer, "127.0.0.1");
        EXPECT_EQ(transfer.record.link, "wan");
        EXPECT_EQ(files.value()[0].nameStored, "k.bin");
        EXPECT_EQ(files.value()[0].result, history::FileResult::Stored);
    }
    EXPECT_EQ(received, 1);
}

TEST_F(WindowHistory, AnUnwritableHistoryIsSaidOnceAfterTheResult) {
    // No folder can be made under a file.
    QFile blocker(dir("data") + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DATA_HOME", blocker.fileName().toLocal8Bit());
    MainWindow* window = startWindow();
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    ASSERT_TRUE(receiveFrom(window, {makeFile(QStringLiteral("a.txt"), "a")}));
    ASSERT_TRUE(receiveFrom(window, {makeFile(QStringLiteral("b.txt"), "b")}));

    ASSERT_EQ(feedback.messages.size(), 3)
        << feedback.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(feedback.messages[0], QStringLiteral("1 of 1 files received successfully"));
    EXPECT_TRUE(feedback.messages[1].startsWith(
        QStringLiteral("Transfers are not recorded in the history: ")))
        << feedback.messages[1].toStdString();
    EXPECT_EQ(feedback.messages[2], QStringLiteral("1 of 1 files received successfully"));
    // The transfers themselves went through.
    EXPECT_TRUE(QFile::exists(dir("dest") + QStringLiteral("/b.txt")));
}

// The same file again finds its name taken: the window refuses the table
// and records it as a refused receive, leaving the first one as it was.
TEST_F(WindowHistory, ARefusedTableIsRecordedAsARefusedReceive) {
    qputenv("XDG_DATA_HOME", dir("data").toLocal8Bit());
    MainWindow* window = startWindow();
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    const QString file = makeFile(QStringLiteral("twice.bin"), QByteArray(3000, 't'));
    ASSERT_TRUE(receiveFrom(window, {file}));
    {
        CliPeer again;
        ASSERT_TRUE(again.send(m_app->engine()->listenPort(), {file}));
        EXPECT_EQ(again.waitExit(), 1);
    }
    auto store = history::HistoryStore::open(
        (dir("data") + QStringLiteral("/Quorvel/Zapfer/history.sqlite")).toStdString());
    ASSERT_TRUE(store.ok());
    std::vector<history::StoredTransfer> received;
    // The record is written off the GUI thread after a queued event.
    const bool bothThere = QTest::qWaitFor(
        [&] {
            transfersOf(*window).recording()->waitIdle(1000);
            received.clear();
            auto transfers = store.value().recentTransfers(-1);
            if (!transfers)
                return false;
            for (const auto& t : transfers.value())
                if (t.record.direction == history::Direction::Received)
                    received.push_back(t);
            return received.size() == 2;
        },
        30000);
    EXPECT_TRUE(bothThere);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].record.outcome, history::TransferOutcome::Refused);
    EXPECT_EQ(received[0].record.refusalCode, int(PeerNameConflict));
    EXPECT_EQ(received[0].record.peer, "127.0.0.1");
    EXPECT_EQ(received[0].fileCount, 1);
    EXPECT_EQ(received[0].failedFileCount, 1);
    EXPECT_EQ(received[1].record.outcome, history::TransferOutcome::Completed);
    auto files = store.value().filesOf(received[0].id);
    ASSERT_TRUE(files.ok());
    ASSERT_EQ(files.value().size(), 1u);
    EXPECT_EQ(files.value()[0].result, history::FileResult::Refused);
    EXPECT_EQ(files.value()[0].size, 3000u);
}
