#include "desktop_notifier.h"

#include "format_size.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace zapfer {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpenFolder = QStringLiteral("open-folder");
const QString kTrust = QStringLiteral("trust-address");
// Never offered as an action: it keeps one notification per address.
const QString kPairingFailed = QStringLiteral("pairing-failed");
// A notification nobody acted on is forgotten once it closes; past this many
// (a flood of refusals) the oldest are dropped anyway.
constexpr int kMaxRemembered = 64;
} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent, const QDBusConnection& bus)
    : QObject(parent), m_bus(bus) {}

void DesktopNotifier::filesReceived(int count, const QString& from, const QString& folder) {
    const QString summary = count == 1 ? tr("1 file received from %1").arg(from)
                                       : tr("%1 files received from %2").arg(count).arg(from);
    notify(summary, {kOpenFolder, folder}, tr("Open folder"));
}

QString DesktopNotifier::refusedText(int count, qint64 bytes, const QString& from) {
    return count == 1 ? tr("Refused 1 file (%1) from %2").arg(FormatSize(bytes), from)
                      : tr("Refused %1 files (%2) from %3").arg(count).arg(FormatSize(bytes), from);
}

QString DesktopNotifier::trustLabel() {
    return tr("Trust this address");
}

void DesktopNotifier::transferRefused(int count, qint64 bytes, const QString& from) {
    notify(refusedText(count, bytes, from), {kTrust, from}, trustLabel());
}

QString DesktopNotifier::pairingFailedText(const QString& from) {
    return tr("A paired connection from %1 failed: a different pairing code, or not a paired peer")
        .arg(from);
}

void DesktopNotifier::pairingFailed(const QString& from) {
    notify(pairingFailedText(from), {kPairingFailed, from}, QString());
}

void DesktopNotifier::notify(const QString& summary, const Pending& action,
                             const QString& actionLabel) {
    // No bus or no service: silent, as a desktop without notifications is.
    if (!m_bus.isConnected() || !m_bus.interface() ||
        !m_bus.interface()->isServiceRegistered(kService))
        return;
    if (!m_listening) {
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(uint, QString)));
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                      SLOT(onClosed(uint, uint)));
        m_listening = true;
    }
    // A notification still shown for the same folder or address is replaced,
    // so that a peer sending table after table fills no screen.
    uint replaces = 0;
    for (auto it = m_shown.cbegin(); it != m_shown.cend(); ++it)
        if (it->action == action.action && it->subject == action.subject)
            replaces = it.key();
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Zapfer") << replaces << QStringLiteral("zapfer") << summary << QString()
         << (actionLabel.isEmpty() ? QStringList() : QStringList{action.action, actionLabel})
         << QVariantMap() << int(-1);
    // Asynchronous: a slow notification service never holds up the window.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, action, replaces](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                if (reply.isError())
                    return;
                m_shown.remove(replaces);
                if (m_shown.size() >= kMaxRemembered)
                    m_shown.erase(m_shown.begin());
                m_shown.insert(reply.value(), action);
            });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action) {
    const auto it = m_shown.constFind(id);
    if (it == m_shown.constEnd() || it->action != action)
        return; // another program's notification, or an action never offered
    const Pending pending = *it;
    m_shown.erase(it);
    if (action == kOpenFolder)
        Q_EMIT openFolderRequested(pending.subject);
    else if (action == kTrust)
        Q_EMIT trustRequested(pending.subject);
}

void DesktopNotifier::onClosed(uint id, uint reason) {
    (void)reason;
    m_shown.remove(id);
}

} // namespace zapfer
