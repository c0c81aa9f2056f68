#pragma once

// zapfer-cli's side of the transfer history: every send and receive is
// recorded, and a history that cannot be written is said once on stderr,
// never as the transfer's failure.
//
// The history is opened and written on one thread of its own, started with
// the program: the open while the link comes up, each write while the sender
// shuts its engine down or the receiver serves its next peer. Neither waits
// for SQLite on its way, nor for a thread to be started at a transfer's end.

#include "background_recorder.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zapfer::cli {

class TransferHistory {
public:
    // Starts opening the history at once; make it before the engine. A
    // sender says how many files it sends: their write is parsed meanwhile.
    explicit TransferHistory(std::size_t expectedFiles = 0);
    // Waits for the last write, so that no transfer goes unrecorded, and
    // says its problem.
    ~TransferHistory();
    TransferHistory(const TransferHistory&) = delete;
    TransferHistory& operator=(const TransferHistory&) = delete;

    // Returns once the write before it has ended (its problem said), so that
    // transfers are written in their order.
    void record(recording::RecordedTransfer transfer);
    // Says the problem of a write that has ended meanwhile; never waits for
    // one. For a receiver that may wait long for its next transfer.
    void sayFinished();

private:
    static void say(const recording::HistoryProblem& problem);

    std::mutex m_mutex;
    std::vector<recording::HistoryProblem> m_problems; // from the writer, not yet said
    // Last: its thread hands problems to the members above. Reset by the
    // destructor, which then says what the last writes found.
    std::optional<recording::BackgroundRecorder> m_writer;
};

// " (CRC-32 1a2b3c4d)", as the per-file lines print it; empty when unknown.
std::string crcSuffix(const std::optional<uint32_t>& crc);

} // namespace zapfer::cli
