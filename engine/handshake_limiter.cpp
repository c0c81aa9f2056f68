#include "handshake_limiter.h"

#include <algorithm>

namespace zapfer {

HandshakeLimiter::HandshakeLimiter(Now now, size_t failures, Clock::duration window,
                                   Clock::duration block, size_t maxAddresses)
    : m_now(std::move(now)), m_failures(std::max<size_t>(failures, 1)), m_window(window),
      m_block(block), m_maxAddresses(std::max<size_t>(maxAddresses, 1)) {}

bool HandshakeLimiter::expired(const Record& record, Clock::time_point now) const {
    return now >= record.blockedUntil &&
           (record.failures.empty() || now - record.failures.back() >= m_window);
}

bool HandshakeLimiter::blocked(uint32_t address) {
    const auto found = m_records.find(address);
    if (found == m_records.end())
        return false;
    const Clock::time_point now = m_now();
    if (now < found->second.blockedUntil)
        return true;
    if (expired(found->second, now))
        m_records.erase(found);
    return false;
}

bool HandshakeLimiter::noteFailure(uint32_t address) {
    const Clock::time_point now = m_now();
    if (!m_records.count(address))
        makeRoom(now);
    Record& record = m_records[address];
    if (now < record.blockedUntil)
        return false; // already blocked: the block runs its minute from its start
    auto& failures = record.failures;
    while (!failures.empty() && now - failures.front() >= m_window)
        failures.pop_front();
    failures.push_back(now);
    if (failures.size() < m_failures)
        return false;
    // A new start after the block: the failures that caused it are spent.
    failures.clear();
    record.blockedUntil = now + m_block;
    return true;
}

// Many addresses failing once each must not grow the table without end:
// forgotten first are those whose failures have aged out, then the quietest.
void HandshakeLimiter::makeRoom(Clock::time_point now) {
    if (m_records.size() < m_maxAddresses)
        return;
    std::erase_if(m_records, [&](const auto& entry) { return expired(entry.second, now); });
    while (m_records.size() >= m_maxAddresses) {
        const auto lastEvent = [](const Record& r) {
            return std::max(r.blockedUntil,
                            r.failures.empty() ? Clock::time_point{} : r.failures.back());
        };
        const auto quietest =
            std::min_element(m_records.begin(), m_records.end(), [&](const auto& a, const auto& b) {
                return lastEvent(a.second) < lastEvent(b.second);
            });
        m_records.erase(quietest);
    }
}

} // namespace zapfer
