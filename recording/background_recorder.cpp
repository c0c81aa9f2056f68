#include "background_recorder.h"

#include <chrono>

namespace zapfer::recording {

BackgroundRecorder::BackgroundRecorder(TransferRecorder recorder, ProblemHandler onProblem,
                                       std::size_t expectedFiles)
    : m_recorder(std::move(recorder)), m_onProblem(std::move(onProblem)),
      m_thread([this, expectedFiles] { run(expectedFiles); }) {}

BackgroundRecorder::~BackgroundRecorder() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void BackgroundRecorder::record(RecordedTransfer transfer) {
    bool overflow = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_waiting.size() >= kMaxWaiting) {
            overflow = !m_toldOverflow;
            m_toldOverflow = true;
        } else {
            m_waiting.push_back(std::move(transfer));
        }
    }
    m_changed.notify_all();
    if (overflow && m_onProblem)
        m_onProblem({true, "the transfer history is not keeping up; transfers are left out"});
}

bool BackgroundRecorder::waitIdle(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_waiting.empty() && !m_writing; });
}

void BackgroundRecorder::tell(const std::optional<HistoryProblem>& problem) {
    if (problem && m_onProblem)
        m_onProblem(*problem);
}

void BackgroundRecorder::run(std::size_t expectedFiles) {
    // Before the first transfer ends, not when it does.
    m_recorder.prepare(expectedFiles);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_waiting.empty())
            return; // stopping, and everything written
        RecordedTransfer next = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_writing = true;
        lock.unlock();
        tell(m_recorder.record(next));
        lock.lock();
        m_writing = false;
        m_changed.notify_all();
    }
}

} // namespace zapfer::recording
