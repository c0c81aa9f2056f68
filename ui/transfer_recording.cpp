#include "transfer_recording.h"

#include "user_feedback.h"

#include <QWidget>

namespace zapfer {

TransferRecording::TransferRecording(QWidget* owner, recording::TransferRecorder recorder)
    : QObject(owner), m_owner(owner) {
    // The recorder's thread is joined before this object goes, and a queued
    // call to an object already gone is dropped.
    m_recorder = std::make_unique<recording::BackgroundRecorder>(
        std::move(recorder), [this](const recording::HistoryProblem& problem) {
            QMetaObject::invokeMethod(
                this, [this, problem] { showProblem(problem); }, Qt::QueuedConnection);
        });
}

// Writes what is still waiting before the window goes.
TransferRecording::~TransferRecording() = default;

void TransferRecording::record(recording::RecordedTransfer transfer) {
    m_recorder->record(std::move(transfer));
}

void TransferRecording::showProblem(const recording::HistoryProblem& problem) {
    if (m_shown)
        return;
    m_shown = true;
    const QString detail = QString::fromStdString(problem.detail);
    showMessage(m_owner, problem.failed ? QMessageBox::Warning : QMessageBox::Information,
                tr("Transfer history"),
                problem.failed ? tr("Transfers are not recorded in the history: %1").arg(detail)
                               : detail);
}

} // namespace zapfer
