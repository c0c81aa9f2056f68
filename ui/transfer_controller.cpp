#include "transfer_controller.h"

#include "conflict_names.h"
#include "connecting_dialog.h"
#include "engine.h"
#include "link_error_text.h"
#include "received_names.h"
#include "send_list_controller.h"
#include "serial_devices.h"
#include "settings_store.h"
#include "string_table.h"
#include "transfer_status_dialog.h"
#include "user_feedback.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zapfer {

namespace {
// The message for a send this side gave up on; empty when there is none to
// give (or the send went on).
QString failureText(SendFailure failure) {
    switch (failure) {
    case SendFailure::None:
        return {};
    case SendFailure::OwnAddress:
        return loadString(str::OwnAddress);
    case SendFailure::BlockNotAcknowledged:
        return loadString(str::BlockNotAcknowledged);
    case SendFailure::PairedNotAccepted:
        return loadString(str::PairedNotAccepted);
    case SendFailure::PairingMismatch:
        return loadString(str::PairingMismatch);
    case SendFailure::PairedNoAnswer:
        return loadString(str::PairedNoAnswer);
    }
    return {};
}
} // namespace

TransferController::TransferController(QWidget* owner, const Settings& settings,
                                       SendListController& sendList)
    : QObject(owner), m_owner(owner), m_settings(settings), m_sendList(sendList),
      m_recording(new TransferRecording(owner)) {}

void TransferController::onReceiveStarted(TransferId id) {
    m_receiveId = id;
    m_receiveStartedMs = recording::nowMs();
}

uint32_t TransferController::sendPeer(const SendOutcome& outcome) const {
    // A LAN send goes to whoever answers the broadcast, not to the address
    // set; the outcome names it once one answered.
    if (outcome.peerAddress != 0)
        return outcome.peerAddress;
    return static_cast<CommType>(m_settings.commType) == CommType::Wan ? m_settings.peerIp : 0;
}

recording::TransferContext TransferController::endingContext(int64_t startedMs,
                                                             uint32_t peerAddress) const {
    recording::TransferContext context;
    const auto type = static_cast<CommType>(m_settings.commType);
    context.link = recording::linkNameOf(type);
    if (isSerial(type) && m_engine)
        context.peer = serialDeviceFor(type, m_engine->settings().serialDevices);
    else
        context.peer = recording::addressText(peerAddress);
    context.peerName = m_engine ? m_engine->peerName() : std::string();
    context.startedMs = startedMs;
    context.endedMs = recording::nowMs();
    return context;
}

void TransferController::onTableRefused(const RefusedReceive& refusal) {
    const int64_t now = recording::nowMs();
    if (!m_refusals.admit(refusal.peerAddress, now))
        return;
    recording::TransferContext context = endingContext(now, refusal.peerAddress);
    context.peerName.clear(); // the name is of the transfer under way, if any
    m_recording->record(recording::recordOf(refusal, context));
}

void TransferController::setEngine(Engine* engine) {
    m_engine = engine;
    m_handshake = engine ? std::make_unique<SendHandshake>(*engine) : nullptr;
}

void TransferController::send() {
    Engine* engine = m_engine;
    if (busy() || !engine)
        return;
    const SendListModel* list = m_sendList.model();
    if (list->fileCount() == 0) {
        beep();
        return;
    }
    const auto type = static_cast<CommType>(m_settings.commType);
    if (type == CommType::Irda) {
        // A "Connecting..." dialog could never succeed.
        showMessage(m_owner, QMessageBox::Critical, loadString(str::CommTypeBase + int(type)),
                    loadString(str::IrdaUnavailable));
        return;
    }
    if (!engine->snapshot().canSend) {
        const QString why = linkErrorText(engine->linkError());
        showMessage(m_owner, QMessageBox::Critical, loadString(str::CommTypeBase + int(type)),
                    why.isEmpty() ? loadString(str::PortUnavailable) : why);
        return;
    }
    // Top first, each file with its size now; a file gone meanwhile goes as
    // size 0 and the engine counts it as not sent.
    std::vector<SendFile> files;
    for (const QString& path : list->paths())
        files.push_back({QFile::encodeName(path).toStdString(), QFileInfo(path).size()});
    SendRefused why;
    if (m_handshake->begin(files, &why) == kNoTransfer) {
        reportRefusal(why);
        return;
    }
    m_sendFiles = files;
    m_sendStartedMs = recording::nowMs();
    const bool infrared = type == CommType::Irda || type == CommType::RawIr;
    m_connecting = new ConnectingDialog(infrared, m_owner);
    m_connecting->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_connecting, &QDialog::finished, this, &TransferController::onConnectingFinished);
    m_connecting->open();
}

void TransferController::reportRefusal(const SendRefused& why) {
    // The send list refuses such files as they are added; this is the
    // engine's word on a list that changed on disk since.
    QString text;
    switch (why.reason) {
    case SendRefused::Reason::TooManyFiles:
        text = loadString(str::MaxFiles);
        break;
    case SendRefused::Reason::File: {
        const QString path = QFile::decodeName(why.path.c_str());
        if (why.file == SendRefusal::TooLarge)
            text = loadString(str::FileTooLarge).arg(path);
        else if (why.file == SendRefusal::NameTooLong)
            text = loadString(str::NameTooLong).arg(path);
        else if (why.file == SendRefusal::NameUnsafe)
            text = loadString(str::NameUnsafe).arg(path);
        else
            text = loadString(str::Error); // two names alike: the send list keeps one
        break;
    }
    default:
        beep(); // nothing to send, the link is closed, or a transfer is under way
        return;
    }
    showMessage(m_owner, QMessageBox::Critical, loadString(str::Error), text);
}

void TransferController::onConnectingClosedByEngine(TransferId id) {
    // A close left over from an earlier, cancelled attempt names that one:
    // the dialog stays.
    if (m_connecting && m_handshake && m_handshake->owns(id))
        m_connecting->closeByTransfer();
}

void TransferController::onConnectingFinished(int result) {
    m_connecting = nullptr;
    if (!m_handshake)
        return;
    const TransferId id = m_handshake->current();
    if (!m_handshake->connectingClosed(result == dialogCode(DialogResult::Cancelled))) {
        // Cancelled, or the link could not be set up: nothing to report but
        // an address that can never answer, or a paired link refused.
        const SendOutcome& outcome = m_handshake->outcome();
        if (outcome.id == id)
            m_recording->record(recording::recordOf(
                outcome, endingContext(m_sendStartedMs, sendPeer(outcome)), m_sendFiles));
        if (const QString why = failureText(outcome.failure); outcome.id == id && !why.isEmpty())
            showMessage(m_owner, QMessageBox::Critical, loadString(str::Error), why);
        if (outcome.id == id)
            Q_EMIT sendFinished(0, outcome.fileCount);
        return;
    }
    openStatusDialog(false);
}

void TransferController::receive() {
    if (busy() || !m_engine)
        return;
    openStatusDialog(true);
}

void TransferController::openStatusDialog(bool receiving) {
    Engine* engine = m_engine;
    m_statusReceiving = receiving;
    // The transfer may have ended before its dialog could appear.
    const bool over = receiving ? engine->snapshot().aborting : m_handshake->over();
    if (over) {
        QMetaObject::invokeMethod(
            this,
            [this, receiving] { receiving ? onReceiveStatusFinished(0) : onSendStatusFinished(0); },
            Qt::QueuedConnection);
        return;
    }
    m_status = new TransferStatusDialog(receiving, m_owner);
    m_status->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_status, &QDialog::finished, this,
            receiving ? &TransferController::onReceiveStatusFinished
                      : &TransferController::onSendStatusFinished);
    m_status->open();
}

TransferId TransferController::shownTransfer() const {
    if (m_statusReceiving)
        return m_receiveId;
    return m_handshake ? m_handshake->current() : kNoTransfer;
}

void TransferController::onStatusClosedByEngine(TransferId id) {
    if (m_status && id != kNoTransfer && id == shownTransfer())
        m_status->closeByTransfer();
}

void TransferController::onFileStarted(TransferId id, const QString& namePart) {
    if (m_status && id == shownTransfer())
        m_status->setFileName(namePart);
}

void TransferController::refresh() {
    Engine* engine = m_engine;
    if (m_status && engine)
        m_status->refresh(engine->snapshot().progress);
}

void TransferController::onSendStatusFinished(int result) {
    m_status = nullptr;
    if (!m_handshake)
        return;
    // Bounded: the sender stops within a second of the abort.
    reportSend(m_handshake->statusClosed(result == dialogCode(DialogResult::Cancelled)));
}

void TransferController::reportSend(const SendOutcome& outcome) {
    // Handed over first: a history problem is said after the result.
    m_recording->record(recording::recordOf(
        outcome, endingContext(m_sendStartedMs, sendPeer(outcome)), m_sendFiles));
    const int peerError = outcome.peerError;
    const int filesDone = outcome.filesDone;
    const int fileCount = outcome.fileCount;
    if (peerError != PeerNoError) {
        showMessage(m_owner, QMessageBox::Critical, loadString(str::Error),
                    loadString(str::RefusalBase + peerError));
        Q_EMIT sendFinished(filesDone, fileCount);
        return;
    }
    if (const QString why = failureText(outcome.failure); !why.isEmpty())
        showMessage(m_owner, QMessageBox::Critical, loadString(str::Error), why);
    m_sendList.removeSent(outcome.aborted ? std::max(outcome.transferIndex, 0)
                                          : m_sendList.model()->fileCount(),
                          outcome.sent);
    if (m_settings.showResults)
        showMessage(m_owner, QMessageBox::NoIcon, loadString(str::SendResultTitle),
                    loadString(str::SentResult).arg(filesDone).arg(fileCount));
    Q_EMIT sendFinished(filesDone, fileCount);
}

void TransferController::onReceiveStatusFinished(int result) {
    m_status = nullptr;
    Engine* engine = m_engine;
    if (!engine)
        return;
    if (result == dialogCode(DialogResult::Cancelled))
        engine->cancel();
    // The engine deletes a partly received file here.
    const ReceiveOutcome outcome = engine->finishReceive();
    // No files: a serial line's table was refused, and recorded so already.
    if (!outcome.files.empty())
        m_recording->record(
            recording::recordOf(outcome, endingContext(m_receiveStartedMs, outcome.peerAddress)));
    if (!outcome.aborted)
        Q_EMIT receiveCompleted();
    const Settings& settings = m_settings;
    if (outcome.filesDone > 0)
        Q_EMIT filesArrived(
            outcome.filesDone,
            outcome.peerAddress != 0
                ? QString::fromStdString(Ipv4Network{outcome.peerAddress, 32}.text())
                : loadString(str::CommTypeBase + int(settings.commType)));
    if (settings.showResults) {
        QString text =
            loadString(str::ReceivedResult).arg(outcome.filesDone).arg(outcome.fileCount);
        // Keep both gave some files other names: the user must know where to look.
        for (const FileOutcome& file : outcome.files) {
            if (storedUnderOtherName(file))
                text += QLatin1Char('\n') +
                        loadString(str::StoredAs)
                            .arg(QString::fromStdString(*receivedFileName(file.nameAsSent)),
                                 QString::fromStdString(file.nameAsStored));
        }
        showMessage(m_owner, QMessageBox::NoIcon, loadString(str::ReceiveResultTitle), text);
    }
    if (!settings.curDir.isEmpty() && QDir(settings.curDir) == QDir(settings.destDir))
        Q_EMIT curDirChanged();
    Q_EMIT receiveFinished(outcome.filesDone, outcome.fileCount);
}

} // namespace zapfer
