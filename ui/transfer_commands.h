#pragma once

#include "connecting_dialog.h"
#include "engine.h"
#include "transfer_status_dialog.h"

#include <QObject>
#include <QPointer>

#include <vector>

namespace zapfer {

class MainWindow;

// The window's side of a transfer: the Send command (40017) and the Receive
// command (40018) with their "Connecting..." and "File Xfer Status" dialogs.
// The dialogs are window-modal but never block the GUI thread: the engine's
// queued events close them, and each dialog's end carries the command on.
// GUI thread only.
class TransferCommands : public QObject {
    Q_OBJECT
public:
    explicit TransferCommands(MainWindow& window);

    void send();
    void receive();
    // StatusRefresh's progress display, once a second.
    void refresh();
    // A Connecting or status dialog is up.
    bool busy() const { return m_connecting || m_status; }

    // The engine's events, on the GUI thread.
    void onConnectingClosedByEngine();
    void onStatusClosedByEngine();
    void onFileStarted(const QString& namePart);

    ConnectingDialog* connectingDialog() const { return m_connecting; }
    TransferStatusDialog* statusDialog() const { return m_status; }

Q_SIGNALS:
    // A send has been reported (or ended silently when cancelled while connecting).
    void sendFinished(int filesDone, int fileCount);
    void receiveFinished(int filesDone, int fileCount);

private:
    void onConnectingFinished(int result);
    void openStatusDialog(bool receiving);
    void onSendStatusFinished(int result);
    void onReceiveStatusFinished(int result);
    void reportSend(const SendOutcome& outcome);
    // Removes the top `count` SendList items: the files that went through.
    void removeSent(int count, const std::vector<bool>& sent);
    // Engine closes queued before this point belong to a transfer that has
    // been finished; they must not close the next one's dialog.
    void fenceStaleCloses();

    MainWindow& m_window;
    QPointer<ConnectingDialog> m_connecting;
    QPointer<TransferStatusDialog> m_status;
    bool m_statusReceiving = false;
    int m_staleFences = 0;
};

} // namespace zapfer
