#pragma once

// Bookkeeping of the pipelined block sender: which blocks of a file are in
// flight, which are acknowledged, and when to go back and send again.
//
// Replies on the socket link come in the order of the transmissions they
// answer, one each. A block counts as acknowledged only by a CMD_BLOCK_OK for
// the first unacknowledged block, answering its latest transmission; a
// CMD_BLOCK_BAD, a missing reply or an unexpected index sends again from the
// first unacknowledged block onward (go-back-N). After such a restart the last
// block a peer takes is always the file's last block, so a peer that counts
// the index of the latest block it took ends every file complete.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace zapfer {

struct BlockReply {
    uint8_t code = 0;
    int32_t index = -1; // -1 for replies that carry no index
};

// Cuts the reply byte stream into replies; bytes that do not start a valid
// frame are skipped one at a time, so the stream recovers from garbage.
class ReplyParser {
public:
    void feed(const uint8_t* data, size_t n);
    std::optional<BlockReply> next();

private:
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
};

class BlockWindow {
public:
    // The window starts at `initial` blocks in flight and doubles each time a
    // whole window is acknowledged without a restart (so it grows to cover the
    // link's round trip), up to `limit`; a restart halves it.
    explicit BlockWindow(int32_t blocks, int32_t initial = 8, int32_t limit = 512);

    int32_t blocks() const { return m_blocks; }
    int32_t acknowledged() const { return m_acknowledged; } // first unacknowledged block
    int32_t nextToSend() const { return m_next; }
    int32_t window() const { return m_window; }
    bool done() const { return m_acknowledged == m_blocks; }
    bool canSend() const { return m_next < m_blocks && m_next - m_acknowledged < m_window; }
    // Transmissions still waiting for a reply that would count.
    bool awaitingReplies() const;

    // Block k has gone out whole. It is live when it was the next to send;
    // a block whose sending began before a restart is recorded but stale.
    void recordSent(int32_t k);
    // A CMD_BLOCK_OK or CMD_BLOCK_BAD reply; returns true when it moved the
    // first unacknowledged block on by one.
    bool onReply(const BlockReply& reply);
    // No reply came in time: send again from the first unacknowledged block.
    void goBack();

private:
    struct Transmission {
        int32_t index;
        bool stale;
    };

    int32_t m_blocks;
    int32_t m_initial;
    int32_t m_limit;
    int32_t m_window;
    int32_t m_acknowledged = 0;
    int32_t m_next = 0;
    int32_t m_ackedSinceGrowth = 0;
    std::deque<Transmission> m_inFlight;
};

} // namespace zapfer
