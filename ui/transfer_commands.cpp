#include "transfer_commands.h"

#include "connecting_dialog.h"
#include "engine.h"
#include "main_window.h"
#include "send_list.h"
#include "settings_store.h"
#include "string_table.h"
#include "transfer_status_dialog.h"
#include "user_feedback.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zapfer {

TransferCommands::TransferCommands(MainWindow& window) : QObject(&window), m_window(window) {}

void TransferCommands::send() {
    Engine* engine = m_window.engine();
    if (busy() || !engine)
        return;
    SendList* list = m_window.sendList();
    if (list->fileCount() == 0) {
        beep();
        return;
    }
    const auto type = static_cast<CommType>(m_window.settings().commType);
    if (type == CommType::Irda) {
        // A "Connecting..." dialog could never succeed.
        showMessage(&m_window, QMessageBox::Critical, loadString(str::CommTypeBase + int(type)),
                    loadString(str::IrdaUnavailable));
        return;
    }
    if (!engine->canSend()) {
        const std::string why = engine->lastLinkError();
        showMessage(&m_window, QMessageBox::Critical, loadString(str::CommTypeBase + int(type)),
                    why.empty() ? loadString(str::PortUnavailable) : QString::fromStdString(why));
        return;
    }
    // Top first, each file with its size now; a file gone meanwhile goes as
    // size 0 and the engine counts it as not sent.
    std::vector<SendFile> files;
    for (const QString& path : list->paths())
        files.push_back({QFile::encodeName(path).toStdString(), QFileInfo(path).size()});
    std::string whyNot;
    if (!engine->beginSend(files, &whyNot)) {
        showMessage(&m_window, QMessageBox::Critical, loadString(str::Error),
                    QString::fromStdString(whyNot));
        return;
    }
    const bool infrared = type == CommType::Irda || type == CommType::RawIr;
    m_connecting = new ConnectingDialog(infrared, &m_window);
    m_connecting->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_connecting, &QDialog::finished, this, &TransferCommands::onConnectingFinished);
    m_connecting->open();
}

void TransferCommands::onConnectingClosedByEngine() {
    Engine* engine = m_window.engine();
    if (!m_connecting || !engine)
        return;
    // A close left over from an earlier, cancelled attempt finds the engine
    // still connecting: the dialog stays.
    if (!engine->state().AbortFlag && engine->state().LinkState != LinkState::Connected)
        return;
    m_connecting->closeByTransfer();
}

void TransferCommands::onConnectingFinished(int result) {
    m_connecting = nullptr;
    Engine* engine = m_window.engine();
    if (!engine)
        return;
    if (result == 2)
        engine->cancel();
    if (engine->state().AbortFlag) {
        // Cancelled, or the link could not be set up: nothing to report.
        const SendOutcome outcome = engine->finishSend();
        fenceStaleCloses();
        Q_EMIT sendFinished(0, outcome.fileCount);
        return;
    }
    engine->startSending();
    openStatusDialog(false);
}

void TransferCommands::receive() {
    if (busy() || !m_window.engine())
        return;
    openStatusDialog(true);
}

void TransferCommands::openStatusDialog(bool receiving) {
    Engine* engine = m_window.engine();
    m_statusReceiving = receiving;
    // The transfer may have ended before its dialog could appear.
    const bool over = engine->state().AbortFlag ||
                      (!receiving && engine->state().LinkState != LinkState::Sending);
    if (over) {
        QMetaObject::invokeMethod(
            this,
            [this, receiving] { receiving ? onReceiveStatusFinished(0) : onSendStatusFinished(0); },
            Qt::QueuedConnection);
        return;
    }
    m_status = new TransferStatusDialog(receiving, &m_window);
    m_status->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_status, &QDialog::finished, this,
            receiving ? &TransferCommands::onReceiveStatusFinished
                      : &TransferCommands::onSendStatusFinished);
    m_status->open();
}

void TransferCommands::onStatusClosedByEngine() {
    if (m_status && m_staleFences == 0)
        m_status->closeByTransfer();
}

void TransferCommands::onFileStarted(const QString& namePart) {
    if (m_status)
        m_status->setFileName(namePart);
}

void TransferCommands::refresh() {
    Engine* engine = m_window.engine();
    if (m_status && engine)
        m_status->refresh(engine->progress());
}

void TransferCommands::onSendStatusFinished(int result) {
    m_status = nullptr;
    Engine* engine = m_window.engine();
    if (!engine)
        return;
    if (result == 2)
        engine->cancel();
    // Bounded: the sender stops within a second of the abort.
    const SendOutcome outcome = engine->finishSend();
    fenceStaleCloses();
    reportSend(outcome);
}

void TransferCommands::reportSend(const SendOutcome& outcome) {
    const int peerError = outcome.peerError;
    const int filesDone = outcome.filesDone;
    const int fileCount = outcome.fileCount;
    if (peerError != PeerNoError) {
        showMessage(&m_window, QMessageBox::Critical, loadString(str::Error),
                    loadString(str::RefusalBase + peerError));
        Q_EMIT sendFinished(filesDone, fileCount);
        return;
    }
    removeSent(outcome.aborted ? std::max(outcome.transferIndex, 0)
                               : m_window.sendList()->fileCount(),
               outcome.sent);
    m_window.UpdateStatusLine();
    if (m_window.settings().showResults)
        showMessage(&m_window, QMessageBox::NoIcon, loadString(str::SendResultTitle),
                    loadString(str::SentResult).arg(filesDone).arg(fileCount));
    Q_EMIT sendFinished(filesDone, fileCount);
}

// Only the files that went through: a row the user had selected further
// down was not sent, nor was a file that could not be read when its turn
// came (`sent` tells, entry by entry); they stay queued.
void TransferCommands::removeSent(int count, const std::vector<bool>& sent) {
    SendList* list = m_window.sendList();
    count = std::min(count, list->fileCount());
    if (count <= 0)
        return;
    list->clearSelection();
    bool any = false;
    for (int i = 0; i < count; ++i) {
        if (size_t(i) < sent.size() && !sent[size_t(i)])
            continue;
        list->topLevelItem(i)->setSelected(true);
        any = true;
    }
    if (any)
        list->removeSelected();
}

void TransferCommands::onReceiveStatusFinished(int result) {
    m_status = nullptr;
    Engine* engine = m_window.engine();
    if (!engine)
        return;
    if (result == 2)
        engine->cancel();
    // The engine deletes a partly received file here.
    const ReceiveOutcome outcome = engine->finishReceive();
    fenceStaleCloses();
    if (!outcome.aborted)
        m_window.playSound(Sound::Completed);
    const Settings& settings = m_window.settings();
    if (settings.showResults)
        showMessage(&m_window, QMessageBox::NoIcon, loadString(str::ReceiveResultTitle),
                    loadString(str::ReceivedResult).arg(outcome.filesDone).arg(outcome.fileCount));
    if (!settings.curDir.isEmpty() && QDir(settings.curDir) == QDir(settings.destDir))
        m_window.listCurDir();
    Q_EMIT receiveFinished(outcome.filesDone, outcome.fileCount);
}

void TransferCommands::fenceStaleCloses() {
    ++m_staleFences;
    QMetaObject::invokeMethod(
        this, [this] { --m_staleFences; }, Qt::QueuedConnection);
}

} // namespace zapfer
