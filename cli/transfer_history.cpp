#include "transfer_history.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace zapfer::cli {

TransferHistory::TransferHistory(std::size_t expectedFiles)
    : m_worker([this, expectedFiles] { run(expectedFiles); }) {}

TransferHistory::~TransferHistory() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_worker.join();
    if (m_problem)
        say(*m_problem);
}

void TransferHistory::run(std::size_t expectedFiles) {
    m_recorder.prepare(expectedFiles);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_next; });
        if (!m_next)
            return; // stopping, and everything written
        const recording::RecordedTransfer transfer = std::move(*m_next);
        m_next.reset();
        m_writing = true;
        lock.unlock();
        auto problem = m_recorder.record(transfer);
        lock.lock();
        m_writing = false;
        m_problem = std::move(problem);
        m_changed.notify_all();
    }
}

std::optional<recording::HistoryProblem> TransferHistory::takeProblem() {
    if (m_next || m_writing)
        return std::nullopt;
    return std::exchange(m_problem, std::nullopt);
}

void TransferHistory::record(recording::RecordedTransfer transfer) {
    std::optional<recording::HistoryProblem> problem;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_next && !m_writing; });
        problem = takeProblem();
        m_next = std::move(transfer);
    }
    m_changed.notify_all();
    if (problem)
        say(*problem);
}

void TransferHistory::sayFinished() {
    std::optional<recording::HistoryProblem> problem;
    {
        std::lock_guard lock(m_mutex);
        problem = takeProblem();
    }
    if (problem)
        say(*problem);
}

void TransferHistory::say(const recording::HistoryProblem& problem) {
    if (problem.failed)
        std::fprintf(stderr, "zapfer-cli: transfers are not recorded in the history: %s\n",
                     problem.detail.c_str());
    else
        std::fprintf(stderr, "zapfer-cli: %s\n", problem.detail.c_str());
    std::fflush(stderr);
}

std::string crcSuffix(const std::optional<uint32_t>& crc) {
    if (!crc)
        return {};
    char text[32] = {};
    std::snprintf(text, sizeof text, " (CRC-32 %08" PRIx32 ")", *crc);
    return text;
}

} // namespace zapfer::cli
