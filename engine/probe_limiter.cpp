#include "probe_limiter.h"

#include <algorithm>

namespace zapfer {

bool isProbeSourcePortAnswerable(uint16_t sourcePort, uint16_t echoPort, uint16_t probePort) {
    return sourcePort >= 1024 && sourcePort != echoPort && sourcePort != probePort;
}

ProbeLimiter::ProbeLimiter(size_t perSource, size_t total, Clock::duration window)
    : m_perSource(perSource), m_total(total), m_window(window) {}

bool ProbeLimiter::allow(uint32_t source, Clock::time_point now) {
    while (!m_answers.empty() && now - m_answers.front().at >= m_window)
        m_answers.pop_front();
    if (m_answers.size() >= m_total)
        return false;
    const auto fromSource = std::count_if(m_answers.begin(), m_answers.end(),
                                          [source](const Answer& a) { return a.source == source; });
    if (size_t(fromSource) >= m_perSource)
        return false;
    m_answers.push_back({now, source});
    return true;
}

} // namespace zapfer
