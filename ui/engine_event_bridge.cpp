#include "engine_event_bridge.h"

#include "accept_list.h"
#include "link_error_text.h"
#include "string_table.h"
#include "transfer_controller.h"
#include "user_feedback.h"

#include <QFile>
#include <QWidget>

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
    QMetaObject::invokeMethod(
        this,
        [this, error] {
            showMessage(m_owner, QMessageBox::Critical,
                        loadString(str::CommTypeBase + int(error.type)), linkOpenMessage(error));
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

} // namespace zapfer
