#include "engine_event_bridge.h"

#include "accept_list.h"
#include "link_error_text.h"
#include "string_table.h"
#include "transfer_controller.h"
#include "user_feedback.h"

#include <QFile>
#include <QWidget>

#include <utility>

namespace zapfer {

EngineEventBridge::EngineEventBridge(QWidget* owner, TransferController& transfers)
    : QObject(owner), m_owner(owner), m_transfers(transfers) {}

void EngineEventBridge::receiveStarted(TransferId id) {
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            m_transfers.onReceiveStarted(id);
            Q_EMIT incoming();
        },
        Qt::QueuedConnection);
}

void EngineEventBridge::connectingEnded(TransferId id) {
    QMetaObject::invokeMethod(
        this, [this, id] { m_transfers.onConnectingClosedByEngine(id); }, Qt::QueuedConnection);
}

void EngineEventBridge::transferEnded(TransferId id) {
    QMetaObject::invokeMethod(
        this, [this, id] { m_transfers.onStatusClosedByEngine(id); }, Qt::QueuedConnection);
}

void EngineEventBridge::fileStarting(TransferId id, const std::string& namePart) {
    QMetaObject::invokeMethod(
        this,
        [this, id, name = QFile::decodeName(QByteArray::fromStdString(namePart))] {
            m_transfers.onFileStarted(id, name);
        },
        Qt::QueuedConnection);
}

void EngineEventBridge::playSound(Sound sound) {
    QMetaObject::invokeMethod(
        this, [this, sound] { m_sound.play(sound); }, Qt::QueuedConnection);
}

void EngineEventBridge::linkFailed(const LinkError& error) {
    {
        const std::lock_guard lock(m_pendingMutex);
        m_pending.push_back(
            {linkOpenMessage(error), loadString(str::CommTypeBase + int(error.type))});
    }
    // Finds nothing left when start-up has shown it already.
    QMetaObject::invokeMethod(
        this,
        [this] {
            for (const LinkMessage& message : takePendingLinkMessages())
                showMessage(m_owner, QMessageBox::Critical, message.caption, message.text);
        },
        Qt::QueuedConnection);
}

void EngineEventBridge::receiveRefused(uint32_t peerAddress, int32_t fileCount,
                                       int64_t totalBytes) {
    QMetaObject::invokeMethod(
        this,
        [this, address = QString::fromStdString(Ipv4Network{peerAddress, 32}.text()), fileCount,
         totalBytes] { Q_EMIT refused(address, fileCount, totalBytes); },
        Qt::QueuedConnection);
}

void EngineEventBridge::tableRefused(const RefusedReceive& refusal) {
    QMetaObject::invokeMethod(
        this, [this, refusal] { m_transfers.onTableRefused(refusal); }, Qt::QueuedConnection);
}

void EngineEventBridge::pairingFailed(uint32_t peerAddress) {
    QMetaObject::invokeMethod(
        this,
        [this, address = QString::fromStdString(Ipv4Network{peerAddress, 32}.text())] {
            Q_EMIT pairingFailedFrom(address);
        },
        Qt::QueuedConnection);
}

void EngineEventBridge::showPendingLinkMessagesNow() {
    for (const LinkMessage& message : takePendingLinkMessages())
        showMessageAndWait(m_owner, QMessageBox::Critical, message.caption, message.text);
}

std::vector<EngineEventBridge::LinkMessage> EngineEventBridge::takePendingLinkMessages() {
    const std::lock_guard lock(m_pendingMutex);
    return std::exchange(m_pending, {});
}

} // namespace zapfer
