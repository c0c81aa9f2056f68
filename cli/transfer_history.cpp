#include "transfer_history.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace zapfer::cli {

TransferHistory::TransferHistory()
    : m_worker([this] {
          m_recorder.prepare();
          m_idle = true;
      }) {}

TransferHistory::~TransferHistory() {
    settle();
}

void TransferHistory::record(recording::RecordedTransfer transfer) {
    settle();
    m_idle = false;
    m_worker = std::thread([this, transfer = std::move(transfer)] {
        m_problem = m_recorder.record(transfer);
        m_idle = true;
    });
}

void TransferHistory::sayFinished() {
    if (m_idle)
        settle();
}

void TransferHistory::settle() {
    if (m_worker.joinable())
        m_worker.join();
    if (auto problem = std::exchange(m_problem, std::nullopt))
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
