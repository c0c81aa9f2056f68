// The window's Send and Receive commands against a real zapfer-cli peer over
// 127.0.0.1: the dialogs, the SendList afterwards and the reported results.

#include "control_ids.h"
#include "feedback_recorder.h"
#include "file_list_model.h"
#include "main_window.h"
#include "window_buttons.h"
#include "window_peer.h"
#include "window_start.h"
#include "zapfer_app.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

// Notes the direction line of every File Xfer Status dialog that shows.
class StatusDialogWatcher : public QObject {
public:
    StatusDialogWatcher() { qApp->installEventFilter(this); }
    ~StatusDialogWatcher() override { qApp->removeEventFilter(this); }
    QStringList titles;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<TransferStatusDialog*>(watched))
                titles.append(dialog->findChild<QLabel*>(QStringLiteral("1008"))->text());
        }
        return false;
    }
};

class WindowTransfers : public AppWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AppWindowTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(makeFolders({"dest", "out", "peer"}));
        seedSettings({{"DestDir", dir("dest")},
                      {"CurDir", dir("dest")},
                      {"CommType", 6}, // WAN / Internet, to 127.0.0.1
                      {"PeerIP", 0x7F000001u}});
    }

    // A sparse file: long enough to be caught in the middle.
    QString makeHugeFile(const QString& name) {
        const QString path = dir("out") + QLatin1Char('/') + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_TRUE(file.resize(qint64(1) << 30));
        return path;
    }

    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    static QStringList names(const QString& path) {
        return QDir(path).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The window, sending to 127.0.0.1:`peerPort` and listening on a free port.
    MainWindow* startWindow(uint16_t peerPort) {
        LinkConfig link;
        link.peerPort = peerPort;
        return AppWindowTest::startWindow(link);
    }

    // The window, sending to `peer`, which receives into the folder "peer".
    MainWindow* startSendingTo(CliPeer& peer) {
        const uint16_t port = peer.receive(dir("peer"));
        EXPECT_NE(port, 0);
        return port != 0 ? startWindow(port) : nullptr;
    }

    // Five files, added so that the SendList's top-to-bottom order is
    // names[0] .. names[4]; `third` replaces the third file's path.
    QStringList queueFive(MainWindow* window, const QString& third = {}) {
        QStringList paths;
        for (int i = 0; i < 5; ++i) {
            const QString name = QStringLiteral("f%1.bin").arg(i);
            paths.append(i == 2 && !third.isEmpty()
                             ? third
                             : makeFile(name, QByteArray(1000 * (i + 1) * (i + 1), char('a' + i))));
        }
        QStringList reversed(paths.rbegin(), paths.rend());
        EXPECT_EQ(window->addPaths(reversed), 5);
        EXPECT_EQ(sendListOf(*window).model()->paths(), paths);
        return paths;
    }
};

TEST_F(WindowTransfers, FiveFilesSentEmptyTheSendListAndReportFiveOfFive) {
    CliPeer peer;
    MainWindow* window = startSendingTo(peer);
    ASSERT_NE(window, nullptr);
    const QStringList paths = queueFive(window);
    FeedbackRecorder feedback;
    StatusDialogWatcher watcher;
    QSignalSpy finished(window, &MainWindow::sendFinished);

    command(*window, id::Send);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 30000));
    EXPECT_EQ(feedback.messages, QStringList{QStringLiteral("5 of 5 files sent successfully")});
    EXPECT_EQ(feedback.titles, QStringList{QStringLiteral("Send File(s)")});
    EXPECT_EQ(watcher.titles, QStringList{QStringLiteral("Sending Files")});
    EXPECT_EQ(sendListOf(*window).model()->fileCount(), 0);
    EXPECT_EQ(sendListOf(*window).model()->totalBytes(), 0);
    EXPECT_EQ(statusLineOf(*window)->text(), QStringLiteral("Files: 0  Bytes: 0"));
    for (const QString& path : paths)
        EXPECT_EQ(contents(dir("peer") + QLatin1Char('/') + QFileInfo(path).fileName()),
                  contents(path));
    EXPECT_TRUE(peer.waitForLine(QStringLiteral("5 of 5 files received successfully")));
    EXPECT_EQ(m_app->engine()->state().LinkState.load(), LinkState::Listening);
    EXPECT_EQ(m_app->engine()->state().ReceiveEnabled.load(), 1);
}

TEST_F(WindowTransfers, NameConflictIsReportedAndKeepsTheSendList) {
    QFile existing(dir("peer") + QStringLiteral("/f3.bin"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("older");
    existing.close();
    CliPeer peer;
    MainWindow* window = startSendingTo(peer);
    ASSERT_NE(window, nullptr);
    const QStringList paths = queueFive(window);
    FeedbackRecorder feedback;
    QSignalSpy finished(window, &MainWindow::sendFinished);

    command(*window, id::Send);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 30000));
    EXPECT_EQ(feedback.titles, QStringList{QStringLiteral("Error")});
    EXPECT_EQ(feedback.messages,
              QStringList{QStringLiteral("One or more file names conflict with existing files on "
                                         "the recipient's machine.")});
    EXPECT_EQ(sendListOf(*window).model()->paths(), paths);
    EXPECT_EQ(names(dir("peer")), QStringList{QStringLiteral("f3.bin")});
    EXPECT_EQ(contents(existing.fileName()), QByteArray("older"));
}

TEST_F(WindowTransfers, CancelWhileConnectingReportsNothingAndKeepsTheSendList) {
    uint16_t deadPort = 0;
    {
        QTcpServer probe; // a port that nobody listens on once it is closed
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        deadPort = probe.serverPort();
    }
    MainWindow* window = startWindow(deadPort);
    ASSERT_NE(window, nullptr);
    const QStringList paths = queueFive(window);
    FeedbackRecorder feedback;
    QSignalSpy finished(window, &MainWindow::sendFinished);

    command(*window, id::Send);
    ConnectingDialog* connecting = transfersOf(*window).connectingDialog();
    ASSERT_NE(connecting, nullptr);
    EXPECT_TRUE(connecting->isVisible());
    EXPECT_EQ(connecting->findChild<QLabel*>(QStringLiteral("1002"))->text(), QString());
    EXPECT_EQ(m_app->engine()->state().LinkState.load(), LinkState::Connecting);
    // A second Send while one is under way does nothing.
    command(*window, id::Send);
    EXPECT_EQ(transfersOf(*window).connectingDialog(), connecting);
    // Refused connections are retried: the dialog stays until the user acts.
    QTest::qWait(700);
    ASSERT_TRUE(transfersOf(*window).connectingDialog());

    QTest::keyClick(connecting, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 10000));
    EXPECT_EQ(transfersOf(*window).connectingDialog(), nullptr);
    EXPECT_EQ(transfersOf(*window).statusDialog(), nullptr);
    EXPECT_TRUE(feedback.messages.isEmpty())
        << feedback.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(feedback.beeps, 0);
    EXPECT_EQ(sendListOf(*window).model()->paths(), paths);
    EXPECT_EQ(m_app->engine()->state().LinkState.load(), LinkState::Listening);
    EXPECT_EQ(m_app->engine()->state().ReceiveEnabled.load(), 1);
    EXPECT_EQ(m_app->engine()->state().AbortFlag.load(), 0);
}

TEST_F(WindowTransfers, SendCutOffOnTheThirdFileRemovesTheTopTwo) {
    CliPeer peer;
    MainWindow* window = startSendingTo(peer);
    ASSERT_NE(window, nullptr);
    const QStringList paths = queueFive(window, makeHugeFile(QStringLiteral("huge.bin")));
    // A row selected below the one in progress was not sent: it stays.
    selectSendListRow(*window, 4);
    FeedbackRecorder feedback;
    QSignalSpy finished(window, &MainWindow::sendFinished);

    command(*window, id::Send);
    Engine* engine = m_app->engine();
    // Caught in the third file, once its name has reached the dialog.
    const auto nameShown = [window] {
        TransferStatusDialog* status = transfersOf(*window).statusDialog();
        return status && status->findChild<QLineEdit*>(QStringLiteral("1001"))->text() ==
                             QStringLiteral("huge.bin");
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const TransferProgress p = engine->snapshot().progress;
            return nameShown() && p.fileIndex == 2 && p.blocksDone > 0;
        },
        30000));
    TransferStatusDialog* status = transfersOf(*window).statusDialog();
    transfersOf(*window).refresh();
    EXPECT_EQ(status->findChild<QLabel*>(QStringLiteral("1002"))->text(),
              QStringLiteral("3 of 5 Files"));
    QTest::mouseClick(status->findChild<QPushButton*>(QStringLiteral("2")), Qt::LeftButton);

    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 30000));
    EXPECT_EQ(feedback.messages, QStringList{QStringLiteral("2 of 5 files sent successfully")});
    EXPECT_EQ(sendListOf(*window).model()->paths(), paths.mid(2));
    EXPECT_EQ(statusLineOf(*window)->text().left(9), QStringLiteral("Files: 3 "));
    // The peer keeps the two whole files and removes the cut one.
    EXPECT_TRUE(peer.waitForLine(
        QStringLiteral("transfer interrupted: 2 of 5 files received successfully")))
        << peer.output().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return names(dir("peer")) ==
                   QStringList{QStringLiteral("f0.bin"), QStringLiteral("f1.bin")};
        },
        10000))
        << names(dir("peer")).join(QLatin1Char(' ')).toStdString();
}

TEST_F(WindowTransfers, ReceiveShowsTheStatusDialogAndReportsTheResult) {
    MainWindow* window = startWindow(1);
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    StatusDialogWatcher watcher;
    QSignalSpy finished(window, &MainWindow::receiveFinished);
    const QStringList files = {makeFile(QStringLiteral("one.txt"), "first"),
                               makeFile(QStringLiteral("two.bin"), QByteArray(3000000, 'z')),
                               makeFile(QStringLiteral("three.txt"), "")};
    CliPeer peer;
    ASSERT_TRUE(peer.send(m_app->engine()->listenPort(), files));

    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 30000));
    EXPECT_EQ(peer.waitExit(), 0);
    EXPECT_EQ(watcher.titles, QStringList{QStringLiteral("Receiving Files")});
    EXPECT_EQ(transfersOf(*window).statusDialog(), nullptr);
    EXPECT_EQ(feedback.messages, QStringList{QStringLiteral("3 of 3 files received successfully")});
    EXPECT_EQ(feedback.titles, QStringList{QStringLiteral("Receive File(s)")});
    for (const QString& path : files)
        EXPECT_EQ(contents(dir("dest") + QLatin1Char('/') + QFileInfo(path).fileName()),
                  contents(path));
    // CurDir is DestDir: the FileList shows the new files.
    EXPECT_EQ(browserOf(*window).model()->rowCount(), 3);
    EXPECT_EQ(m_app->engine()->state().LinkState.load(), LinkState::Listening);
}

TEST_F(WindowTransfers, ReceiveCancelledInTheDialogLeavesNoPartialFile) {
    MainWindow* window = startWindow(1);
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    QSignalSpy finished(window, &MainWindow::receiveFinished);
    CliPeer peer;
    ASSERT_TRUE(
        peer.send(m_app->engine()->listenPort(), {makeHugeFile(QStringLiteral("huge.bin"))}));

    Engine* engine = m_app->engine();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return transfersOf(*window).statusDialog() &&
                   engine->snapshot().progress.blocksDone > 0;
        },
        30000));
    TransferStatusDialog* status = transfersOf(*window).statusDialog();
    transfersOf(*window).refresh();
    EXPECT_EQ(status->findChild<QLabel*>(QStringLiteral("1002"))->text(),
              QStringLiteral("1 of 1 Files"));
    EXPECT_TRUE(status->findChild<QLabel*>(QStringLiteral("1006"))
                    ->text()
                    .endsWith(QStringLiteral(" of 1073741824 Total Bytes")));
    QTest::keyClick(status, Qt::Key_Escape);

    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 30000));
    EXPECT_EQ(names(dir("dest")), QStringList());
    EXPECT_EQ(feedback.messages, QStringList{QStringLiteral("0 of 1 files received successfully")});
    EXPECT_EQ(peer.waitExit(), 1);
    EXPECT_EQ(engine->state().LinkState.load(), LinkState::Listening);
    EXPECT_EQ(engine->state().AbortFlag.load(), 0);
}

} // namespace

namespace {

TEST_F(WindowTransfers, NothingToSendBeepsAndIrdaExplainsItselfInsteadOfConnecting) {
    MainWindow* window = startWindow(1);
    ASSERT_NE(window, nullptr);
    FeedbackRecorder feedback;
    command(*window, id::Send);
    EXPECT_EQ(feedback.beeps, 1);
    EXPECT_EQ(transfersOf(*window).connectingDialog(), nullptr);

    m_app->shutdown();
    QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
    store.setValue(QStringLiteral("CommType"), 0);
    store.sync();
    window = startWindow(1);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - IRDA"));
    EXPECT_TRUE(commandButtonOf(*window, 2)->isEnabled());
    window->addPaths({makeFile(QStringLiteral("a.txt"), "a")});
    command(*window, id::Send);
    EXPECT_EQ(transfersOf(*window).connectingDialog(), nullptr);
    ASSERT_FALSE(feedback.messages.isEmpty());
    EXPECT_TRUE(feedback.messages.last().startsWith(
        QStringLiteral("Infrared sockets are not available on this system.")));
    EXPECT_EQ(feedback.titles.last(), QStringLiteral("IRDA"));
    EXPECT_EQ(sendListOf(*window).model()->fileCount(), 1);
    EXPECT_EQ(m_app->engine()->state().LinkState.load(), LinkState::Listening);
}

} // namespace
