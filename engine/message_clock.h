#pragma once

// The times of the message being read from the peer and the limits they set:
// when its frame and its arguments began, when the last byte came, and so
// when a message left half-sent is to be given up. A serial read ends a fixed
// time plus its length after it began; on a stream a message must also come
// at a least rate, so that a peer trickling a byte now and then cannot hold
// the receiver.

#include "link.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace zapfer {

class MessageClock {
public:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    explicit MessageClock(const LinkTraits& traits)
        : m_dialect(traits.dialect), m_silenceLimitMs(traits.silenceLimitMs) {}

    void byteArrived(int64_t nowMs) { m_lastByteMs = nowMs; }
    // The first byte of a command frame came.
    void frameBegun(int64_t nowMs) { m_frameStartMs = nowMs; }
    // A command frame was whole at `nowMs`: its arguments are timed from here.
    void commandRead(int64_t nowMs);
    // A step of `bytes` more of the message began.
    void stepBegun(int64_t nowMs, size_t bytes) {
        m_stepStartMs = nowMs;
        m_messageBytes += bytes;
    }
    // The step was given up: the next is timed from the last byte.
    void stepGivenUp() { m_stepStartMs = m_lastByteMs; }

    // The deadline of the step that needs `need` bytes, of which `held` came;
    // `idle`: between messages, `inFrame`: reading a frame.
    void update(bool idle, bool inFrame, size_t need, size_t held);
    int64_t deadline() const { return m_deadline; }
    // On a stream, when the message under way must be whole.
    int64_t messageDeadline(bool inFrame) const;
    int64_t lastCommandMs() const { return m_lastCommandMs; }

private:
    Dialect m_dialect;
    int m_silenceLimitMs;
    int64_t m_stepStartMs = 0;
    int64_t m_frameStartMs = 0;       // the first byte of the frame under way
    int64_t m_messageFirstByteMs = 0; // ... of the frame of the message under way
    int64_t m_messageStartMs = 0;     // the command frame of the message under way
    size_t m_messageBytes = 0;        // its bytes after that frame, as known so far
    int64_t m_lastByteMs = 0;
    int64_t m_deadline = kNever;
    int64_t m_lastCommandMs = 0;
};

} // namespace zapfer
