#pragma once

// The window's side of the transfer history: each send and receive is handed
// to a recorder thread as it ends, so that a history waiting on another
// writer's lock never holds up the GUI. A history problem is shown once, as a
// message after the transfer's own result.

#include "background_recorder.h"

#include <QObject>

#include <memory>

class QWidget;

namespace zapfer {

class TransferRecording : public QObject {
    Q_OBJECT
public:
    // Messages go to `owner`. `recorder`: where and whether to record (tests
    // point it at their own history).
    explicit TransferRecording(
        QWidget* owner, recording::TransferRecorder recorder = recording::TransferRecorder());
    ~TransferRecording() override;

    void record(recording::RecordedTransfer transfer);
    // Until every transfer handed over has been written or given up (tests).
    bool waitIdle(int timeoutMs) { return m_recorder->waitIdle(timeoutMs); }

private:
    void showProblem(const recording::HistoryProblem& problem);

    QWidget* m_owner;
    bool m_shown = false;
    std::unique_ptr<recording::BackgroundRecorder> m_recorder; // last: its thread calls back
};

} // namespace zapfer
