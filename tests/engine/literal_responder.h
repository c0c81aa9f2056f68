#pragma once

// A responder that answers exactly as the protocol's rules say and nothing
// more: it takes any block whose index is below FileBlocks, sets BlocksDone to
// k + 1, and counts a file complete when BlocksDone = FileBlocks at its close.
// Options make it refuse chosen blocks once or answer slowly, so the
// pipelined sender is checked against a peer that was not written with it.

#include "unique_fd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zapfer::test {

class LiteralResponder {
public:
    struct Options {
        std::set<std::pair<int, int32_t>> badOnce; // (file, block) answered BAD the first time
        std::chrono::milliseconds replyDelay{0};   // before every block reply
        int32_t blockSize = 32768;
        // Files whose close is answered CMD_CANNOT_CREATE (a close repeated
        // after it finds no file open and is answered CMD_OK).
        std::set<int> cannotKeep;
        // SO_RCVBUF of the connection; 0 keeps the system's. A small one
        // makes the sender's writes stop part-way through blocks.
        int receiveBuffer = 0;
    };
    explicit LiteralResponder(Options options);
    ~LiteralResponder();

    uint16_t port() const { return m_port; }
    // Waits for the connection to end; false after `limit`.
    bool waitFinished(std::chrono::seconds limit = std::chrono::seconds(60));

    // Results, valid after waitFinished.
    std::map<int, std::vector<uint8_t>> completeFiles; // by entry index
    int incompleteCloses = 0;
    int blocksReceived = 0;
    int abortsReceived = 0;

private:
    void serve();

    Options m_options;
    UniqueFd m_listener;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
};

} // namespace zapfer::test
