// Send from the window with WAN / Internet and this computer's own address:
// refused at once with a message that says so, instead of a Connecting
// dialog that waits for itself until the user cancels.

#include "control_ids.h"
#include "feedback_recorder.h"
#include "main_window.h"
#include "window_parts.h"
#include "zapfer_app.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;

TEST(WindowOwnAddress, SendingToThisComputerIsRefusedWithAMessageAndKeepsTheSendList) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString dest = root.filePath(QStringLiteral("dest"));
    ASSERT_TRUE(QDir().mkdir(dest));
    QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
    store.clear();
    store.setValue(QStringLiteral("DestDir"), dest);
    store.setValue(QStringLiteral("CurDir"), dest);
    store.setValue(QStringLiteral("CommType"), 6); // WAN / Internet
    store.setValue(QStringLiteral("PeerIP"), 0x7F000001u);
    store.sync();

    // The window listens on the port it sends to: its own.
    uint16_t port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    LinkConfig link;
    link.listenPort = port;
    link.peerPort = port;
    link.echoPort = 0;
    ZapferApp app(link);
    ASSERT_TRUE(app.start({}));
    MainWindow* window = app.window();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(app.engine()->listenPort(), port);

    const QString path = root.filePath(QStringLiteral("note.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("hello");
    file.close();
    ASSERT_EQ(window->addPaths({path}), 1);

    FeedbackRecorder feedback;
    QSignalSpy finished(window, &MainWindow::sendFinished);
    command(*window, id::Send);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 10000));
    EXPECT_EQ(feedback.titles, QStringList{QStringLiteral("Error")});
    ASSERT_EQ(feedback.messages.size(), 1);
    EXPECT_TRUE(feedback.messages[0].startsWith(QStringLiteral("That address is this computer")))
        << feedback.messages[0].toStdString();
    EXPECT_FALSE(transfersOf(*window).connectingDialog());
    EXPECT_EQ(sendListOf(*window).model()->paths(), QStringList{path});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return app.engine()->state().LinkState.load() == LinkState::Listening; }, 5000));
    EXPECT_EQ(QDir(dest).entryList(QDir::Files | QDir::Hidden), QStringList{});
}
