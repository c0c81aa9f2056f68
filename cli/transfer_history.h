#pragma once

// zapfer-cli's side of the transfer history: every send and receive is
// recorded, and a history that cannot be written is said once on stderr,
// never as the transfer's failure.
//
// The history is opened and written on a thread of its own: the open while
// the link comes up, each write while the sender shuts its engine down or the
// receiver serves its next peer. Neither waits for SQLite on its way.

#include "transfer_recorder.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace zapfer::cli {

class TransferHistory {
public:
    // Starts opening the history at once; make it before the engine.
    TransferHistory();
    // Waits for the last write, so that no transfer goes unrecorded, and
    // says its problem.
    ~TransferHistory();
    TransferHistory(const TransferHistory&) = delete;
    TransferHistory& operator=(const TransferHistory&) = delete;

    // Returns at once; the write before it is waited for first (its problem
    // said), so that transfers are written in their order.
    void record(recording::RecordedTransfer transfer);
    // Says the problem of a write that has ended meanwhile; never waits. For
    // a receiver that may wait long for its next transfer.
    void sayFinished();

private:
    void settle();
    void say(const recording::HistoryProblem& problem);

    recording::TransferRecorder m_recorder;
    std::optional<recording::HistoryProblem> m_problem; // the worker's, read once joined
    std::atomic<bool> m_idle{false};
    std::thread m_worker; // last: starts once everything above exists
};

// " (CRC-32 1a2b3c4d)", as the per-file lines print it; empty when unknown.
std::string crcSuffix(const std::optional<uint32_t>& crc);

} // namespace zapfer::cli
