// Desktop notifications against a private session bus: a dbus-daemon of the
// test's own and a recording notification server on it. Nothing here touches
// the user's bus.

#include "desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

using namespace zapfer;

namespace {

// Records every Notify call and answers with increasing ids, or with the id
// it was asked to replace.
class RecordingServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString summary;
        QStringList actions;
        uint replacesId = 0;
    };
    QList<Call> calls;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout) {
        (void)appName;
        (void)icon;
        (void)body;
        (void)hints;
        (void)timeout;
        calls.append({summary, actions, replacesId});
        return replacesId != 0 ? replacesId : uint(calls.size()) + 100;
    }
};

// dbus-daemon --session on a socket of its own, ended with the test.
class PrivateBus {
public:
    PrivateBus() {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted(5000))
            return;
        for (int i = 0; i < 50 && !m_daemon.canReadLine(); ++i)
            m_daemon.waitForReadyRead(100);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : m_connections)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ready() const { return !m_address.isEmpty(); }
    QDBusConnection connect(const QString& name) {
        m_connections.append(name);
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

void sendSignal(QDBusConnection& bus, const char* name, const QVariantList& args) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QString::fromLatin1(name));
    signal.setArguments(args);
    bus.send(signal);
}

// The private bus, and on it the notifier as a client: with the recording
// notification server beside it (startWithServer) or alone (startNotifier).
class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_bus.ready())
            GTEST_SKIP() << "dbus-daemon could not be started";
    }

    void startWithServer() {
        m_serverBus.emplace(m_bus.connect(QStringLiteral("server")));
        ASSERT_TRUE(m_serverBus->isConnected());
        ASSERT_TRUE(m_serverBus->registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                                &m_server, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(m_serverBus->registerService(QStringLiteral("org.freedesktop.Notifications")));
        ASSERT_NO_FATAL_FAILURE(startNotifier(QStringLiteral("client")));
    }
    void startNotifier(const QString& connection) {
        m_clientBus.emplace(m_bus.connect(connection));
        ASSERT_TRUE(m_clientBus->isConnected());
        m_notifier.emplace(nullptr, *m_clientBus);
        m_trusted.emplace(&*m_notifier, &DesktopNotifier::trustRequested);
    }

    PrivateBus m_bus;
    RecordingServer m_server;
    std::optional<QDBusConnection> m_serverBus;
    std::optional<QDBusConnection> m_clientBus;
    std::optional<DesktopNotifier> m_notifier;
    std::optional<QSignalSpy> m_trusted;
};

} // namespace

TEST_F(DesktopNotifierTest, NotifiesWithActionsAndTrustsTheAddressItNamed) {
    ASSERT_NO_FATAL_FAILURE(startWithServer());
    DesktopNotifier& notifier = *m_notifier;
    QSignalSpy& trusted = *m_trusted;
    QSignalSpy opened(&notifier, &DesktopNotifier::openFolderRequested);

    notifier.transferRefused(3, 2048, QStringLiteral("198.18.0.9"));
    notifier.filesReceived(2, QStringLiteral("198.18.0.7"), QStringLiteral("/srv/in"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_server.calls.size() == 2; }, 5000));
    EXPECT_EQ(m_server.calls[0].summary, QStringLiteral("Refused 3 files (2.0K) from 198.18.0.9"));
    EXPECT_EQ(m_server.calls[0].actions,
              (QStringList{QStringLiteral("trust-address"), QStringLiteral("Trust this address")}));
    EXPECT_EQ(m_server.calls[1].summary, QStringLiteral("2 files received from 198.18.0.7"));
    EXPECT_EQ(m_server.calls[1].actions,
              (QStringList{QStringLiteral("open-folder"), QStringLiteral("Open folder")}));
    QTest::qWait(200); // the ids come back asynchronously

    // Ids and actions that are not its own are ignored.
    sendSignal(*m_serverBus, "ActionInvoked", {uint(999), QStringLiteral("trust-address")});
    sendSignal(*m_serverBus, "ActionInvoked", {uint(101), QStringLiteral("open-folder")});
    sendSignal(*m_serverBus, "ActionInvoked", {uint(101), QStringLiteral("trust-address")});
    ASSERT_TRUE(QTest::qWaitFor([&trusted] { return trusted.size() == 1; }, 5000));
    EXPECT_EQ(trusted[0][0].toString(), QStringLiteral("198.18.0.9"));
    EXPECT_TRUE(opened.isEmpty());

    // A closed notification's action can no longer be taken.
    sendSignal(*m_serverBus, "NotificationClosed", {uint(102), uint(2)});
    sendSignal(*m_serverBus, "ActionInvoked", {uint(102), QStringLiteral("open-folder")});
    QTest::qWait(300);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(trusted.size(), 1);

    // A flood from one address replaces its notification; another address
    // gets its own.
    notifier.transferRefused(1, 10, QStringLiteral("198.18.0.9"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_server.calls.size() == 3; }, 5000));
    QTest::qWait(200);
    notifier.transferRefused(2, 20, QStringLiteral("198.18.0.9"));
    notifier.transferRefused(1, 10, QStringLiteral("198.18.0.10"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_server.calls.size() == 5; }, 5000));
    EXPECT_EQ(m_server.calls[2].replacesId, 0u) << "the first one's action was taken";
    EXPECT_EQ(m_server.calls[3].replacesId, 103u);
    EXPECT_EQ(m_server.calls[4].replacesId, 0u);
}

// A failed paired handshake: no action to offer, and one notification per
// address however often a stranger tries.
TEST_F(DesktopNotifierTest, AFailedPairingIsNotifiedOncePerAddressWithoutActions) {
    ASSERT_NO_FATAL_FAILURE(startWithServer());
    DesktopNotifier& notifier = *m_notifier;
    QSignalSpy& trusted = *m_trusted;

    notifier.pairingFailed(QStringLiteral("198.18.0.9"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_server.calls.size() == 1; }, 5000));
    EXPECT_EQ(m_server.calls[0].summary,
              QStringLiteral("A paired connection from 198.18.0.9 failed: a different pairing "
                             "code, or not a paired peer"));
    EXPECT_TRUE(m_server.calls[0].actions.isEmpty());
    QTest::qWait(200); // the id comes back asynchronously

    notifier.pairingFailed(QStringLiteral("198.18.0.9"));
    notifier.pairingFailed(QStringLiteral("198.18.0.10"));
    // A refusal from the same address is a notification of its own.
    notifier.transferRefused(1, 10, QStringLiteral("198.18.0.9"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_server.calls.size() == 4; }, 5000));
    EXPECT_EQ(m_server.calls[1].replacesId, 101u);
    EXPECT_EQ(m_server.calls[2].replacesId, 0u);
    EXPECT_TRUE(m_server.calls[2].summary.contains(QStringLiteral("198.18.0.10")));
    EXPECT_EQ(m_server.calls[3].replacesId, 0u);

    // An action the notification never offered does nothing.
    sendSignal(*m_serverBus, "ActionInvoked", {uint(101), QStringLiteral("pairing-failed")});
    sendSignal(*m_serverBus, "ActionInvoked", {uint(101), QStringLiteral("trust-address")});
    QTest::qWait(300);
    EXPECT_TRUE(trusted.isEmpty());
}

TEST_F(DesktopNotifierTest, WithoutANotificationServiceNothingHappens) {
    ASSERT_NO_FATAL_FAILURE(startNotifier(QStringLiteral("lonely")));
    DesktopNotifier& notifier = *m_notifier;
    QSignalSpy& trusted = *m_trusted;
    notifier.transferRefused(1, 10, QStringLiteral("198.18.0.9"));
    notifier.filesReceived(1, QStringLiteral("198.18.0.9"), QStringLiteral("/tmp"));
    // Nobody owns the name: the notifier did not start the service or wait for it.
    EXPECT_FALSE(m_clientBus->interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications")));
    QTest::qWait(100);
    EXPECT_TRUE(trusted.isEmpty());

    // No bus at all.
    DesktopNotifier detached(nullptr, QDBusConnection(QStringLiteral("never-connected")));
    QSignalSpy detachedTrusted(&detached, &DesktopNotifier::trustRequested);
    detached.transferRefused(1, 10, QStringLiteral("198.18.0.9"));
    EXPECT_TRUE(detachedTrusted.isEmpty());
}

#include "test_desktop_notifier.moc"
