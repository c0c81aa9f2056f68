#pragma once

// How a history connection waits for a lock another process holds. Private
// to history/.
//
// SQLite's own timed wait sleeps 1, 2, 5, 10 ms and longer between tries; a
// zapfer-cli sender and its receiver write their histories at the same
// moment, the end of the transfer, and the other's write holds the lock for a
// fraction of a millisecond, after which the second slept a millisecond or
// more before its end of the transfer could finish. This one tries again after a few tens of
// microseconds, then less often, never more than a millisecond apart, until
// the time-out.

#include <sqlite3.h>

#include <chrono>

namespace zapfer::history {

class BusyWait {
public:
    // Makes it `db`'s busy handler, waiting up to `timeoutMs` for each lock;
    // `this` must stay where it is while `db` is open.
    void install(sqlite3* db, int timeoutMs);

private:
    static int onBusy(void* self, int tries);

    std::chrono::steady_clock::duration m_timeout{};
    std::chrono::steady_clock::time_point m_since;
};

} // namespace zapfer::history
