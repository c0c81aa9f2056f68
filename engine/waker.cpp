#include "waker.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

namespace zapfer {

Waker::Waker() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void Waker::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_fd.get(), &one, sizeof one);
}

short Waker::waitEvents(int fd, short events, int timeoutMs) {
    pollfd fds[2] = {{m_fd.get(), POLLIN, 0}, {fd, events, 0}};
    int result;
    do {
        result = ::poll(fds, 2, timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result > 0 && (fds[0].revents & POLLIN)) {
        uint64_t value;
        [[maybe_unused]] const ssize_t n = ::read(m_fd.get(), &value, sizeof value);
    }
    if (result <= 0)
        return 0;
    const short came = fds[1].revents;
    return (came & (POLLERR | POLLHUP | POLLNVAL)) ? events : short(came & events);
}

bool Waker::waitFor(int fd, short events, int timeoutMs) {
    pollfd fds[2] = {{m_fd.get(), POLLIN, 0}, {fd, events, 0}};
    const int count = fd >= 0 ? 2 : 1;
    int result;
    do {
        result = ::poll(fds, nfds_t(count), timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result > 0 && (fds[0].revents & POLLIN)) {
        uint64_t value;
        [[maybe_unused]] const ssize_t n = ::read(m_fd.get(), &value, sizeof value);
    }
    return result > 0 && count == 2 && fds[1].revents != 0;
}

bool Waker::waitForAny(std::span<pollfd> fds, int timeoutMs) {
    std::vector<pollfd> all;
    all.reserve(fds.size() + 1);
    all.push_back({m_fd.get(), POLLIN, 0});
    all.insert(all.end(), fds.begin(), fds.end());
    int result;
    do {
        result = ::poll(all.data(), nfds_t(all.size()), timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result > 0 && (all[0].revents & POLLIN)) {
        uint64_t value;
        [[maybe_unused]] const ssize_t n = ::read(m_fd.get(), &value, sizeof value);
    }
    bool ready = false;
    for (size_t i = 0; i < fds.size(); ++i) {
        fds[i].revents = result > 0 ? all[i + 1].revents : 0;
        ready = ready || fds[i].revents != 0;
    }
    return ready;
}

} // namespace zapfer
