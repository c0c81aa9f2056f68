#include "engine_event_bridge.h"

#include "transfer_controller.h"
#include "user_feedback.h"

#include <QFile>
#include <QWidget>

namespace zapfer {

EngineEventBridge::EngineEventBridge(QWidget* owner, TransferController& transfers)
    : QObject(owner),
      m_owner(owner),
      m_transfers(transfers) {}

void EngineEventBridge::incomingTransfer() {
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT incoming(); }, Qt::QueuedConnection);
}

void EngineEventBridge::closeConnectingDialog() {
    QMetaObject::invokeMethod(
        this, [this] { m_transfers.onConnectingClosedByEngine(); }, Qt::QueuedConnection);
}

void EngineEventBridge::closeStatusDialog() {
    QMetaObject::invokeMethod(
        this, [this] { m_transfers.onStatusClosedByEngine(); }, Qt::QueuedConnection);
}

void EngineEventBridge::fileStarted(const std::string& namePart) {
    QMetaObject::invokeMethod(
        this,
        [this, name = QFile::decodeName(QByteArray::fromStdString(namePart))] {
            m_transfers.onFileStarted(name);
        },
        Qt::QueuedConnection);
}

void EngineEventBridge::playSound(Sound sound) {
    QMetaObject::invokeMethod(
        this, [this, sound] { m_sound.play(sound); }, Qt::QueuedConnection);
}

void EngineEventBridge::linkMessage(const std::string& text, const std::string& caption) {
    QMetaObject::invokeMethod(
        this,
        [this, text = QString::fromStdString(text), caption = QString::fromStdString(caption)] {
            showMessage(m_owner, QMessageBox::Critical, caption, text);
        },
        Qt::QueuedConnection);
}

} // namespace zapfer
