#pragma once

// The engine's wake-up descriptor and the waits built on it. Every wait of
// TransferThread is a poll() on its descriptor together with this eventfd, so
// a request of the front end (abort, a task, stop) is seen at once.

#include "unique_fd.h"

#include <atomic>
#include <cstdint>
#include <poll.h>
#include <span>

namespace zapfer {

class Waker {
public:
    Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    // Any thread.
    void wake();
    int fd() const { return m_fd.get(); }

    // TransferThread: waits for `events` on `fd` (or just for the time when
    // fd is -1) or for a wake-up, which it drains; true only when fd is ready.
    bool waitFor(int fd, short events, int timeoutMs);
    // As waitFor, telling which of `events` came (POLLERR and POLLHUP as all
    // of them, so that the next call finds the fault); 0 when none.
    short waitEvents(int fd, short events, int timeoutMs);
    void pause(int ms) { waitFor(-1, 0, ms); }
    // The same over several descriptors; their revents tell which are ready.
    bool waitForAny(std::span<pollfd> fds, int timeoutMs);

private:
    UniqueFd m_fd;
};

// What a link needs of the engine: the wake-up to wait on, and the abort flag
// it gives way to and raises when the peer is gone.
struct LinkContext {
    Waker& waker;
    std::atomic<int32_t>& abortFlag;
};

} // namespace zapfer
