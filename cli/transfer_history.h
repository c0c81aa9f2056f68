#pragma once

// zapfer-cli's side of the transfer history: every send and receive is
// recorded, and a history that cannot be written is said once on stderr,
// never as the transfer's failure.
//
// The history is opened and written on one thread of its own, started with
// the program: the open while the link comes up, each write while the sender
// shuts its engine down or the receiver serves its next peer. Neither waits
// for SQLite on its way, nor for a thread to be started at a transfer's end.

#include "transfer_recorder.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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

    // Returns at once; the write before it is waited for first (its problem
    // said), so that transfers are written in their order.
    void record(recording::RecordedTransfer transfer);
    // Says the problem of a write that has ended meanwhile; never waits for
    // one. For a receiver that may wait long for its next transfer.
    void sayFinished();

private:
    void run(std::size_t expectedFiles);
    // The problem of the last write once it has ended, taken; nothing while
    // one is waiting or under way. Called with m_mutex held.
    std::optional<recording::HistoryProblem> takeProblem();
    static void say(const recording::HistoryProblem& problem);

    recording::TransferRecorder m_recorder; // the worker's alone
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<recording::RecordedTransfer> m_next; // handed over, not yet taken
    bool m_writing = false;
    bool m_stopping = false;
    std::optional<recording::HistoryProblem> m_problem; // of the last write
    std::thread m_worker;                               // last: starts once everything above exists
};

// " (CRC-32 1a2b3c4d)", as the per-file lines print it; empty when unknown.
std::string crcSuffix(const std::optional<uint32_t>& crc);

} // namespace zapfer::cli
