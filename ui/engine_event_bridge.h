#pragma once

#include "engine_events.h"
#include "sound_player.h"

#include <QObject>
#include <QString>

#include <mutex>
#include <vector>

class QWidget;

namespace zapfer {

class TransferController;

// The window's EngineEvents. Each call, made on an engine thread, becomes a
// queued call on the GUI thread, where the transfer dialogs, the sounds and
// the link's messages are handled.
class EngineEventBridge : public QObject, public EngineEvents {
    Q_OBJECT
public:
    // `owner` holds the link's message boxes; `transfers` outlives the bridge.
    EngineEventBridge(QWidget* owner, TransferController& transfers);

    void receiveStarted(TransferId id) override;
    void connectingEnded(TransferId id) override;
    void transferEnded(TransferId id) override;
    void fileStarting(TransferId id, const std::string& namePart) override;
    void playSound(Sound sound) override;
    void linkFailed(const LinkError& error) override;
    void receiveRefused(uint32_t peerAddress, int32_t fileCount, int64_t totalBytes) override;
    void tableRefused(const RefusedReceive& refusal) override;
    void pairingFailed(uint32_t peerAddress) override;

    // Shows the link's messages that have not been shown yet, now, each
    // dismissed before the next (and before this returns). Start-up calls it
    // right after opening the link, so a port that cannot be opened is
    // reported before the window shows; otherwise they show in turn from
    // the event loop without blocking it.
    void showPendingLinkMessagesNow();

Q_SIGNALS:
    // A peer's file table was accepted: the Receive command (40018) is due.
    void incoming();
    // A table from `address`, which files are not taken from, was refused.
    void refused(const QString& address, int fileCount, qint64 totalBytes);
    // A paired handshake from `address` failed.
    void pairingFailedFrom(const QString& address);

private:
    struct LinkMessage {
        QString text;
        QString caption;
    };
    std::vector<LinkMessage> takePendingLinkMessages();

    QWidget* m_owner;
    TransferController& m_transfers;
    SoundPlayer m_sound;
    std::mutex m_pendingMutex; // linkMessage may come from an engine thread
    std::vector<LinkMessage> m_pending;
};

} // namespace zapfer
