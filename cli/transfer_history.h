#pragma once

// zapfer-cli's side of the transfer history: every send and receive is
// recorded, and a history that cannot be written is said once on stderr,
// never as the transfer's failure.

#include "transfer_recorder.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zapfer::cli {

class TransferHistory {
public:
    void record(const recording::RecordedTransfer& transfer);

private:
    recording::TransferRecorder m_recorder;
};

// " (CRC-32 1a2b3c4d)", as the per-file lines print it; empty when unknown.
std::string crcSuffix(const std::optional<uint32_t>& crc);

} // namespace zapfer::cli
