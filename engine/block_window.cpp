#include "block_window.h"

#include "protocol.h"

#include <algorithm>

namespace zapfer {

void ReplyParser::feed(const uint8_t* data, size_t n) {
    if (m_position > 0 && m_position == m_bytes.size()) {
        m_bytes.clear();
        m_position = 0;
    }
    m_bytes.insert(m_bytes.end(), data, data + n);
}

std::optional<BlockReply> ReplyParser::next() {
    while (m_bytes.size() - m_position >= kFrameSize) {
        const uint8_t* at = m_bytes.data() + m_position;
        const uint8_t code = FrameCommand(at);
        if (code == 0) {
            ++m_position;
            continue;
        }
        if (code == CMD_BLOCK_OK || code == CMD_BLOCK_BAD) {
            if (m_bytes.size() - m_position < kBlockReplySize)
                return std::nullopt; // the index is still on its way
            m_position += kBlockReplySize;
            return BlockReply{code, int32_t(getLe32(at + kFrameSize))};
        }
        m_position += kFrameSize;
        return BlockReply{code, -1};
    }
    if (m_position > 4096) { // keep the buffer small on long transfers
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + long(m_position));
        m_position = 0;
    }
    return std::nullopt;
}

BlockWindow::BlockWindow(int32_t blocks, int32_t initial, int32_t limit)
    : m_blocks(blocks), m_initial(std::max(1, initial)), m_limit(std::max(m_initial, limit)),
      m_window(m_initial) {}

bool BlockWindow::awaitingReplies() const {
    return std::any_of(m_inFlight.begin(), m_inFlight.end(),
                       [](const Transmission& t) { return !t.stale; });
}

void BlockWindow::recordSent(int32_t k) {
    const bool live = k == m_next;
    m_inFlight.push_back({k, !live});
    if (live)
        ++m_next;
}

bool BlockWindow::onReply(const BlockReply& reply) {
    // Match the reply to its transmission; transmissions before it were not
    // answered at all.
    const auto match = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                                    [&](const Transmission& t) { return t.index == reply.index; });
    if (match == m_inFlight.end())
        return false; // answers nothing we sent: ignore it
    const bool skippedLive =
        std::any_of(m_inFlight.begin(), match, [](const Transmission& t) { return !t.stale; });
    const Transmission answered = *match;
    m_inFlight.erase(m_inFlight.begin(), match + 1);
    if (skippedLive) {
        goBack();
        return false;
    }
    if (answered.stale)
        return false;
    if (reply.code == CMD_BLOCK_OK && answered.index == m_acknowledged) {
        ++m_acknowledged;
        if (++m_ackedSinceGrowth >= m_window) {
            m_window = std::min(m_window * 2, m_limit);
            m_ackedSinceGrowth = 0;
        }
        return true;
    }
    goBack(); // a bad block, or an acknowledgement out of turn
    return false;
}

void BlockWindow::goBack() {
    for (Transmission& t : m_inFlight)
        t.stale = true;
    m_next = m_acknowledged;
    m_window = std::max(m_initial, m_window / 2);
    m_ackedSinceGrowth = 0;
}

} // namespace zapfer
