#include "socket_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace zapfer {

namespace {
using Clock = std::chrono::steady_clock;

constexpr auto kWriteStallLimit = std::chrono::seconds(10);
constexpr auto kAbortingWriteLimit = std::chrono::seconds(1);

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<int64_t>(0, left.count()));
}
} // namespace

SocketLink::SocketLink(UniqueFd socket, int32_t blockSize, LinkContext context)
    : m_socket(std::move(socket)), m_context(context) {
    m_traits.dialect = Dialect::Stream;
    m_traits.blockSize = blockSize;
    m_traits.silenceLimitMs = 2000;
}

void SocketLink::fail() {
    m_start = m_end = 0;
    m_socket.reset();
    m_context.abortFlag = 1;
}

bool SocketLink::sendAll(std::span<const uint8_t> bytes, IoMode mode) {
    if (!m_socket) {
        m_context.abortFlag = 1; // the connection is gone
        return false;
    }
    if (mode == IoMode::Normal && m_context.abortFlag)
        return false;
    size_t sent = 0;
    // While aborting, the last words to the peer must not hang the engine.
    const auto abortDeadline = Clock::now() + kAbortingWriteLimit;
    // A peer that stops reading must not hold this side for good: a write
    // that cannot move for this long ends the connection.
    auto stallDeadline = Clock::now() + kWriteStallLimit;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_socket.get(), bytes.data() + sent, bytes.size() - sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += size_t(n);
            stallDeadline = Clock::now() + kWriteStallLimit;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (mode == IoMode::Normal && m_context.abortFlag)
                return false;
            const bool lastWords = mode == IoMode::EvenWhenAborting && m_context.abortFlag;
            const auto deadline =
                lastWords ? std::min(abortDeadline, stallDeadline) : stallDeadline;
            if (millisecondsLeft(deadline) == 0)
                break; // a message cut short leaves the stream out of step: it ends here
            m_context.waker.waitFor(m_socket.get(), POLLOUT,
                                    std::min(millisecondsLeft(deadline), 100));
            continue;
        }
        break;
    }
    if (sent == bytes.size())
        return true;
    fail();
    return false;
}

bool SocketLink::receiveExact(uint8_t* buffer, size_t n, int silenceLimitMs, IoMode mode) {
    if (!m_socket) {
        m_context.abortFlag = 1;
        return false;
    }
    if (mode == IoMode::Normal && m_context.abortFlag)
        return false;
    const int limit = silenceLimitMs > 0 ? silenceLimitMs : m_traits.silenceLimitMs;
    size_t received = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(limit);
    while (received < n) {
        if (mode == IoMode::Normal && m_context.abortFlag)
            return false;
        const ssize_t got = receiveSome(buffer + received, n - received);
        if (got > 0) {
            received += size_t(got);
            deadline = Clock::now() + std::chrono::milliseconds(limit);
            continue;
        }
        if (got == 0) { // the peer closed the connection
            fail();
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            fail();
            return false;
        }
        const int left = millisecondsLeft(deadline);
        if (left == 0)
            return false; // silence: the caller treats it as a missing reply
        m_context.waker.waitFor(m_socket.get(), POLLIN, std::min(left, 100));
    }
    return true;
}

ssize_t SocketLink::receiveSome(uint8_t* buffer, size_t max) {
    if (!m_socket) {
        errno = ENOTCONN;
        return -1;
    }
    if (m_start == m_end) {
        m_start = m_end = 0;
        // Block data goes straight to its buffer: no copy through the read-ahead.
        const bool direct = max >= 16 * 1024;
        const ssize_t n =
            direct ? ::recv(m_socket.get(), buffer, max, MSG_DONTWAIT)
                   : ::recv(m_socket.get(), m_readAhead.data(), m_readAhead.size(), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            const int error = errno;
            fail(); // closed or reset: the transfer on it is over
            errno = error;
            return n;
        }
        if (n < 0 || direct)
            return n;
        m_end = size_t(n);
    }
    const size_t take = std::min(max, m_end - m_start);
    std::memcpy(buffer, m_readAhead.data() + m_start, take);
    m_start += take;
    return ssize_t(take);
}

ssize_t SocketLink::sendSome(const uint8_t* bytes, size_t n) {
    if (!m_socket) {
        errno = ENOTCONN;
        return -1;
    }
    return ::send(m_socket.get(), bytes, n, MSG_DONTWAIT | MSG_NOSIGNAL);
}

ssize_t SocketLink::sendSomeOf(std::span<const iovec> pieces) {
    if (!m_socket) {
        errno = ENOTCONN;
        return -1;
    }
    // One call hands a whole run of blocks to the kernel.
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(pieces.data());
    message.msg_iovlen = std::min<size_t>(pieces.size(), IOV_MAX);
    return ::sendmsg(m_socket.get(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
}

bool SocketLink::waitReady(bool forWrite, int timeoutMs) {
    if (!m_socket) {
        m_context.waker.pause(timeoutMs);
        return false;
    }
    if (m_start != m_end)
        return true;
    return m_context.waker.waitFor(m_socket.get(), short(POLLIN | (forWrite ? POLLOUT : 0)),
                                   timeoutMs);
}

short SocketLink::waitDirections(bool forWrite, int timeoutMs) {
    if (!m_socket) {
        m_context.waker.pause(timeoutMs);
        return 0;
    }
    const short wanted = short(POLLIN | (forWrite ? POLLOUT : 0));
    if (m_start != m_end) // input already read ahead; the write side is asked without waiting
        return short(POLLIN | m_context.waker.waitEvents(m_socket.get(), wanted, 0));
    return m_context.waker.waitEvents(m_socket.get(), wanted, timeoutMs);
}

void SocketLink::drainInput() {
    m_start = m_end = 0;
    if (!m_socket)
        return;
    uint8_t scrap[4096];
    for (int i = 0; i < 64; ++i) {
        if (::recv(m_socket.get(), scrap, sizeof scrap, MSG_DONTWAIT) <= 0)
            break;
    }
}

} // namespace zapfer
