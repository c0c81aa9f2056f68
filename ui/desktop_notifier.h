#pragma once

// Tells the user of a receive through the desktop's notification service
// (org.freedesktop.Notifications on the session bus) while the window is out
// of sight. Where no such service runs, nothing is shown and nothing printed:
// the result box and the sounds stay the window's own way of telling.
// GUI thread only.

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

namespace zapfer {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr,
                             const QDBusConnection& bus = QDBusConnection::sessionBus());

    // "N files received from ADDRESS", with the action "Open folder".
    void filesReceived(int count, const QString& from, const QString& folder);
    // "Refused N files (SIZE) from ADDRESS", with "Trust this address".
    void transferRefused(int count, qint64 bytes, const QString& from);
    static QString refusedText(int count, qint64 bytes, const QString& from);
    // A paired handshake from ADDRESS failed; no action to offer.
    void pairingFailed(const QString& from);
    static QString pairingFailedText(const QString& from);
    static QString trustLabel();

Q_SIGNALS:
    void openFolderRequested(const QString& folder);
    void trustRequested(const QString& address);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    struct Pending {
        QString action;  // the action key offered (or only the kind, with no label)
        QString subject; // the folder or the address it acts on
    };
    void notify(const QString& summary, const Pending& action, const QString& actionLabel);

    QDBusConnection m_bus;
    bool m_listening = false;
    QHash<uint, Pending> m_shown; // notification id -> its action
};

} // namespace zapfer
