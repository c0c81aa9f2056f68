// zapfer-cli beams files to a running Zapfer window over 127.0.0.1.

#include "file_list_model.h"
#include "main_window.h"
#include "zapfer_app.h"
#include "window_parts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class ReceiveInBackground : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir(m_root.path()).mkdir(QStringLiteral("dest")));
        ASSERT_TRUE(QDir(m_root.path()).mkdir(QStringLiteral("out")));
        QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
        store.clear();
        store.setValue(QStringLiteral("DestDir"), dest());
        store.setValue(QStringLiteral("CurDir"), dest());
        store.setValue(QStringLiteral("CommType"), 5);
        store.sync();
    }

    QString dest() const { return m_root.filePath(QStringLiteral("dest")); }

    QString makeFile(const QString& name, const QByteArray& content) {
        const QString path = m_root.filePath(QStringLiteral("out/") + name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    // Runs zapfer-cli send while the window's event loop keeps running.
    int cliSend(uint16_t port, const QStringList& files) {
        QProcess cli;
        cli.setProcessChannelMode(QProcess::ForwardedChannels);
        cli.start(QStringLiteral(ZAPFER_CLI_PATH),
                  QStringList{QStringLiteral("send"), QStringLiteral("--to"),
                              QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                              QString::number(port)} +
                      files);
        if (!cli.waitForStarted(5000))
            return -1;
        if (!QTest::qWaitFor([&cli] { return cli.state() == QProcess::NotRunning; }, 60000)) {
            cli.kill();
            cli.waitForFinished(5000);
            return -2;
        }
        return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -3;
    }

    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir m_root;
};

TEST_F(ReceiveInBackground, TwoFilesLandInDestDirAndTheWindowListsThem) {
    LinkConfig link;
    link.listenPort = 0;
    link.echoPort = 0;
    ZapferApp app(link);
    ASSERT_TRUE(app.start({}));
    MainWindow* window = app.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zapfer - LAN"));
    const uint16_t port = app.engine()->listenPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(browserOf(*window).model()->rowCount(), 0);

    QByteArray big(300000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 251);
    const QString a = makeFile(QStringLiteral("alpha.bin"), big);
    const QString b = makeFile(QStringLiteral("beta.txt"), "hello from the cli\n");

    QSignalSpy finished(window, &MainWindow::receiveFinished);
    EXPECT_EQ(cliSend(port, {a, b}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&finished] { return finished.count() == 1; }, 20000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), 2);
    EXPECT_EQ(finished.at(0).at(1).toInt(), 2);
    EXPECT_EQ(contents(dest() + QStringLiteral("/alpha.bin")), big);
    EXPECT_EQ(contents(dest() + QStringLiteral("/beta.txt")), QByteArray("hello from the cli\n"));
    EXPECT_EQ(app.engine()->state().LinkState.load(), LinkState::Listening);
    // The FileList shows DestDir, so it was listed again.
    EXPECT_EQ(browserOf(*window).model()->rowCount(), 2);

    // Back to listening: a second peer gets through as well.
    const QString c = makeFile(QStringLiteral("gamma.txt"), "third");
    EXPECT_EQ(cliSend(port, {c}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&finished] { return finished.count() == 2; }, 20000));
    EXPECT_EQ(contents(dest() + QStringLiteral("/gamma.txt")), QByteArray("third"));
    EXPECT_EQ(browserOf(*window).model()->rowCount(), 3);
    EXPECT_EQ(QDir(dest()).entryList(QDir::Files | QDir::Hidden).size(), 3);

    app.shutdown();
    QSettings store(QStringLiteral("Quorvel"), QStringLiteral("Zapfer"));
    EXPECT_EQ(store.value(QStringLiteral("DestDir")).toString(), dest());
    EXPECT_EQ(store.value(QStringLiteral("Preferences")).toUInt(), 14u);
}

} // namespace
