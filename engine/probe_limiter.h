#pragma once

// Which LAN probes the EchoResponder answers. A forged probe whose source is
// another responder would otherwise set two machines answering each other
// forever, and a flood of probes would turn this machine into an amplifier.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace zapfer {

// A probe from a privileged port or from a discovery port is never a sender's
// probe (senders probe from an ephemeral port), and answering it could start
// an echo between two responders.
bool isProbeSourcePortAnswerable(uint16_t sourcePort, uint16_t echoPort, uint16_t probePort);

// Answers at most perSource probes per source address and total probes in all
// within any sliding window. The clock is passed in so that tests can drive it.
class ProbeLimiter {
public:
    using Clock = std::chrono::steady_clock;

    explicit ProbeLimiter(size_t perSource = 10, size_t total = 100,
                          Clock::duration window = std::chrono::seconds(1));

    // True when a probe from source (any address form) may be answered at now;
    // it then counts against both limits.
    bool allow(uint32_t source, Clock::time_point now);

private:
    struct Answer {
        Clock::time_point at;
        uint32_t source;
    };

    size_t m_perSource;
    size_t m_total;
    Clock::duration m_window;
    std::deque<Answer> m_answers; // within the window, oldest first; never more than m_total
};

} // namespace zapfer
