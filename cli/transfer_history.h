#pragma once

// zapfer-cli's side of the transfer history: every send and receive is
// recorded, and a history that cannot be written is said once on stderr,
// never as the transfer's failure.

#include "transfer_recorder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace zapfer::cli {

class TransferHistory {
public:
    // Opens the history on a thread of its own while the transfer runs.
    TransferHistory();
    ~TransferHistory();
    TransferHistory(const TransferHistory&) = delete;
    TransferHistory& operator=(const TransferHistory&) = delete;

    void record(const recording::RecordedTransfer& transfer);

private:
    recording::TransferRecorder m_recorder;
    std::thread m_opening; // joined before m_recorder is used here
};

// " (CRC-32 1a2b3c4d)", as the per-file lines print it; empty when unknown.
std::string crcSuffix(const std::optional<uint32_t>& crc);

} // namespace zapfer::cli
