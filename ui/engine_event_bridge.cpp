#include "engine_event_bridge.h"

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

void EngineEventBridge::linkMessage(const std::string& text, const std::string& caption) {
    QMetaObject::invokeMethod(
        this,
        [this, text = QString::fromStdString(text), caption = QString::fromStdString(caption)] {
            // The engine words its messages in English, from the string table.
            showMessage(m_owner, QMessageBox::Critical, translatedSource(caption),
                        translatedSource(text));
        },
        Qt::QueuedConnection);
}

} // namespace zapfer
