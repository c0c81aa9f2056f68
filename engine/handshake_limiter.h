#pragma once

// Which addresses the paired listener still answers. Each failed handshake
// costs the peer nothing but costs this machine a key exchange and a notice
// to the user; an address that keeps failing (a wrong code retried in a
// loop, or a guesser) is left unanswered for a while instead.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>

namespace zapfer {

class HandshakeLimiter {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    // `failures` within `window` from one address block it for `block`. The
    // clock is passed in so that tests can drive it.
    explicit HandshakeLimiter(Now now = Clock::now, size_t failures = 5,
                              Clock::duration window = std::chrono::minutes(1),
                              Clock::duration block = std::chrono::minutes(1),
                              size_t maxAddresses = 4096);

    // Connections from `address` (any form) are closed unanswered now.
    bool blocked(uint32_t address);
    // A handshake from `address` failed; true when this failure blocks it.
    bool noteFailure(uint32_t address);
    // Addresses remembered: bounded by maxAddresses.
    size_t size() const { return m_records.size(); }

private:
    struct Record {
        std::deque<Clock::time_point> failures; // within the window, oldest first
        Clock::time_point blockedUntil{};
    };
    bool expired(const Record& record, Clock::time_point now) const;
    void makeRoom(Clock::time_point now);

    Now m_now;
    size_t m_failures;
    Clock::duration m_window;
    Clock::duration m_block;
    size_t m_maxAddresses;
    std::unordered_map<uint32_t, Record> m_records;
};

} // namespace zapfer
