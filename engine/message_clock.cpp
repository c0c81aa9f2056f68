#include "message_clock.h"

#include "protocol.h"

#include <algorithm>

namespace zapfer {

namespace {
// A serial read ends 1000 + n ms after it began, whatever the gaps.
constexpr int64_t kLineReadBaseMs = 1000;
// On a stream what follows a command frame must also be complete within 2 s
// plus its length at 10 KiB/s.
constexpr int64_t kStreamMessageBaseMs = 2000;
constexpr int64_t kStreamSlowestBytesPerS = 10 * 1024;
} // namespace

void MessageClock::commandRead(int64_t nowMs) {
    m_lastCommandMs = nowMs;
    m_messageFirstByteMs = std::min(m_frameStartMs, nowMs);
    m_messageStartMs = nowMs;
    m_messageBytes = 0;
}

void MessageClock::update(bool idle, bool inFrame, size_t need, size_t held) {
    if (idle) {
        m_deadline = kNever;
        return;
    }
    const int64_t from = std::max(m_lastByteMs, m_stepStartMs);
    if (m_dialect == Dialect::Stream) {
        m_deadline = from + m_silenceLimitMs;
        if (!inFrame)
            m_deadline =
                std::min(m_deadline, m_messageStartMs + kStreamMessageBaseMs +
                                         int64_t(m_messageBytes) * 1000 / kStreamSlowestBytesPerS);
        return;
    }
    const int64_t total = m_stepStartMs + kLineReadBaseMs + int64_t(need);
    m_deadline = held == 0 ? total : std::min(total, from + m_silenceLimitMs);
}

int64_t MessageClock::messageDeadline(bool inFrame) const {
    const int64_t start = inFrame ? m_frameStartMs : m_messageFirstByteMs;
    const size_t bytes = kFrameSize + (inFrame ? 0 : m_messageBytes);
    return start + kStreamMessageBaseMs + int64_t(bytes) * 1000 / kStreamSlowestBytesPerS;
}

} // namespace zapfer
