#include "refusal_throttle.h"

#include <algorithm>

namespace zapfer::recording {

RefusalThrottle::RefusalThrottle(std::int64_t windowMs, std::size_t perAddress, std::size_t overall)
    : m_windowMs(windowMs), m_perAddress(perAddress), m_overall(overall) {}

bool RefusalThrottle::admit(std::uint32_t address, std::int64_t nowMs) {
    // A clock set back must not keep everything out until it catches up.
    while (!m_kept.empty() &&
           (nowMs - m_kept.front().atMs >= m_windowMs || m_kept.front().atMs > nowMs))
        m_kept.pop_front();
    if (m_kept.size() >= m_overall)
        return false;
    const auto fromAddress = std::count_if(
        m_kept.begin(), m_kept.end(), [address](const Kept& k) { return k.address == address; });
    if (std::size_t(fromAddress) >= m_perAddress)
        return false;
    m_kept.push_back({address, nowMs});
    return true;
}

} // namespace zapfer::recording
