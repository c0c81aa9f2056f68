#pragma once

// Which refused tables the history keeps. A peer can send table after table
// to be refused, as fast as it can connect; were each kept, a flood would
// push the user's real transfers out of the history (it keeps a bounded
// number) and cost a write each. Kept: a few from each address in a window,
// and a few more from all addresses together.

#include <cstddef>
#include <cstdint>
#include <deque>

namespace zapfer::recording {

class RefusalThrottle {
public:
    static constexpr std::int64_t kWindowMs = 60 * 60 * 1000;
    static constexpr std::size_t kPerAddress = 10;
    static constexpr std::size_t kOverall = 30;

    RefusalThrottle(std::int64_t windowMs = kWindowMs, std::size_t perAddress = kPerAddress,
                    std::size_t overall = kOverall);

    // Whether a table refused from `address` (host order; 0 for a serial
    // line) at `nowMs` is recorded; counted when it is.
    bool admit(std::uint32_t address, std::int64_t nowMs);

private:
    struct Kept {
        std::uint32_t address;
        std::int64_t atMs;
    };

    std::int64_t m_windowMs;
    std::size_t m_perAddress;
    std::size_t m_overall;
    std::deque<Kept> m_kept; // oldest first; never more than m_overall
};

} // namespace zapfer::recording
