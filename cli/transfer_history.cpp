#include "transfer_history.h"

#include <cinttypes>
#include <cstdio>
#include <utility>
#include <vector>

namespace zapfer::cli {

TransferHistory::TransferHistory(std::size_t expectedFiles) {
    m_writer.emplace(
        recording::TransferRecorder(),
        [this](const recording::HistoryProblem& problem) {
            // Said on the main thread, between its own lines.
            std::lock_guard lock(m_mutex);
            m_problems.push_back(problem);
        },
        expectedFiles);
}

TransferHistory::~TransferHistory() {
    m_writer.reset(); // writes what is still waiting
    sayFinished();
}

void TransferHistory::record(recording::RecordedTransfer transfer) {
    // One at a time, as a transfer's end comes: a history stuck behind a
    // lock holds the next transfer's end back rather than piling them up.
    while (!m_writer->waitIdle(60'000)) {
    }
    sayFinished();
    m_writer->record(std::move(transfer));
}

void TransferHistory::sayFinished() {
    std::vector<recording::HistoryProblem> problems;
    {
        std::lock_guard lock(m_mutex);
        problems.swap(m_problems);
    }
    for (const auto& problem : problems)
        say(problem);
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
