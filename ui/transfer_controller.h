#pragma once

#include "connecting_dialog.h"
#include "engine.h"
#include "refusal_throttle.h"
#include "send_handshake.h"
#include "transfer_recording.h"
#include "transfer_status_dialog.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace zapfer {

struct Settings;
class SendListController;

// The window's side of a transfer: the Send command (40017) and the Receive
// command (40018) with their "Connecting..." and "File Xfer Status" dialogs.
// The dialogs are window-modal but never block the GUI thread: the engine's
// queued events close them, and each dialog's end carries the command on.
// GUI thread only.
class TransferController : public QObject {
    Q_OBJECT
public:
    // `owner` holds the dialogs and messages; `settings` and `sendList`
    // outlive the controller.
    TransferController(QWidget* owner, const Settings& settings, SendListController& sendList);

    // The engine transfers run on; null when detached.
    void setEngine(Engine* engine);
    Engine* engine() const { return m_engine; }

    void send();
    void receive();
    // StatusRefresh's progress display, once a second.
    void refresh();
    // A Connecting or status dialog is up.
    bool busy() const { return m_connecting || m_status; }

    // The engine's events, on the GUI thread. Each names its transfer: a
    // late event of an earlier transfer leaves the current dialogs alone.
    void onReceiveStarted(TransferId id);
    void onConnectingClosedByEngine(TransferId id);
    void onStatusClosedByEngine(TransferId id);
    void onFileStarted(TransferId id, const QString& namePart);
    // A peer's table was refused: recorded in the history (a flood, only in part).
    void onTableRefused(const RefusedReceive& refusal);

    ConnectingDialog* connectingDialog() const { return m_connecting; }
    TransferStatusDialog* statusDialog() const { return m_status; }
    TransferRecording* recording() const { return m_recording; }

Q_SIGNALS:
    // A send has been reported (or ended silently when cancelled while connecting).
    void sendFinished(int filesDone, int fileCount);
    void receiveFinished(int filesDone, int fileCount);
    // Files of a receive were stored, before its result is shown; `from` is
    // the peer's address, or the link's name on a serial link.
    void filesArrived(int filesDone, const QString& from);
    // A receive ended without an abort: the "completed" sound is due.
    void receiveCompleted();
    // A receive stored files in the folder the FileList shows.
    void curDirChanged();

private:
    void onConnectingFinished(int result);
    void openStatusDialog(bool receiving);
    void onSendStatusFinished(int result);
    void onReceiveStatusFinished(int result);
    void reportSend(const SendOutcome& outcome);
    void reportRefusal(const SendRefused& why);
    // The transfer the status dialog shows.
    TransferId shownTransfer() const;
    // The link and peer of the transfer ending now, for its history record.
    recording::TransferContext endingContext(int64_t startedMs, uint32_t peerAddress) const;
    uint32_t sendPeer(const SendOutcome& outcome) const;

    QWidget* m_owner;
    const Settings& m_settings;
    SendListController& m_sendList;
    Engine* m_engine = nullptr;
    std::unique_ptr<SendHandshake> m_handshake;
    TransferId m_receiveId = kNoTransfer; // the receive announced last
    QPointer<ConnectingDialog> m_connecting;
    QPointer<TransferStatusDialog> m_status;
    bool m_statusReceiving = false;
    TransferRecording* m_recording;
    std::vector<SendFile> m_sendFiles; // of the send under way, for its record
    int64_t m_sendStartedMs = 0;
    int64_t m_receiveStartedMs = 0;
    recording::RefusalThrottle m_refusals;
};

} // namespace zapfer
