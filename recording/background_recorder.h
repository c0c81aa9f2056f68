#pragma once

// A TransferRecorder on a thread of its own, for the window: the GUI thread
// hands a transfer over and goes on at once, however long the history's
// busy time-out makes a write wait.

#include "transfer_recorder.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace zapfer::recording {

class BackgroundRecorder {
public:
    // `onProblem` is called on the recorder's thread: it must only hand the
    // problem over (a queued call), never block.
    using ProblemHandler = std::function<void(const HistoryProblem&)>;

    // `expectedFiles`: how many files the first transfer has, when known
    // (a sender's), so that their write is parsed while it runs.
    BackgroundRecorder(TransferRecorder recorder, ProblemHandler onProblem,
                       std::size_t expectedFiles = 0);
    // Writes what is still waiting, then stops.
    ~BackgroundRecorder();
    BackgroundRecorder(const BackgroundRecorder&) = delete;
    BackgroundRecorder& operator=(const BackgroundRecorder&) = delete;

    // Returns at once. Past kMaxWaiting transfers waiting (a history stuck
    // behind a lock) the newest is dropped, and the problem told.
    void record(RecordedTransfer transfer);
    // Until every transfer handed over so far has been written or given up;
    // false when that took longer than `timeoutMs`.
    bool waitIdle(int timeoutMs);

    static constexpr size_t kMaxWaiting = 64;

private:
    void run(std::size_t expectedFiles);
    void tell(const std::optional<HistoryProblem>& problem);

    TransferRecorder m_recorder;
    ProblemHandler m_onProblem;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<RecordedTransfer> m_waiting;
    bool m_writing = false;
    bool m_stopping = false;
    bool m_toldOverflow = false;
    std::thread m_thread; // last: starts once everything above exists
};

} // namespace zapfer::recording
