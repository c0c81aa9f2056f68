#include "transfer_history.h"

#include <cinttypes>
#include <cstdio>

namespace zapfer::cli {

TransferHistory::TransferHistory() : m_opening([this] { m_recorder.prepare(); }) {}

TransferHistory::~TransferHistory() {
    if (m_opening.joinable())
        m_opening.join();
}

void TransferHistory::record(const recording::RecordedTransfer& transfer) {
    if (m_opening.joinable())
        m_opening.join();
    const auto problem = m_recorder.record(transfer);
    if (!problem)
        return;
    if (problem->failed)
        std::fprintf(stderr, "zapfer-cli: transfers are not recorded in the history: %s\n",
                     problem->detail.c_str());
    else
        std::fprintf(stderr, "zapfer-cli: %s\n", problem->detail.c_str());
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
