#include "busy_wait.h"

#include <algorithm>
#include <thread>

namespace zapfer::history {

void BusyWait::install(sqlite3* db, int timeoutMs) {
    m_timeout = std::chrono::milliseconds(std::max(timeoutMs, 0));
    sqlite3_busy_handler(db, &BusyWait::onBusy, this);
}

int BusyWait::onBusy(void* self, int tries) {
    auto* wait = static_cast<BusyWait*>(self);
    const auto now = std::chrono::steady_clock::now();
    // SQLite counts the tries of one lock from 0.
    if (tries == 0)
        wait->m_since = now;
    const auto deadline = wait->m_since + wait->m_timeout;
    if (now >= deadline)
        return 0;
    const auto pause = std::chrono::microseconds(std::min(50 << std::min(tries, 5), 1000));
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    return 1;
}

} // namespace zapfer::history
