// The paired link's moving of bytes, with the socket link's semantics: the
// same silence limit, write stall limit and giving way to an abort.

#include "tls_link.h"

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>

namespace zapfer {

namespace {
using Clock = std::chrono::steady_clock;

constexpr auto kWriteStallLimit = std::chrono::seconds(10);
constexpr auto kAbortingWriteLimit = std::chrono::seconds(1);
// Plaintext taken by one call: sixteen full records, which leave in one
// send, about what the kernel takes of a socket at once.
constexpr size_t kWriteChunk = 256 * 1024;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<int64_t>(0, left.count()));
}
} // namespace

TlsLink::TlsLink(UniqueFd socket, TlsRole role, const PairingKey& key, int32_t blockSize,
                 LinkContext context)
    : m_stream(std::move(socket)), m_handshake(role, key, m_stream.socket(), m_stream.records()),
      m_context(context) {
    m_traits.dialect = Dialect::Stream;
    m_traits.blockSize = blockSize;
    m_traits.silenceLimitMs = 2000;
}

TlsLink::~TlsLink() {
    // Through the link's records: OpenSSL's sequence numbers stopped at the
    // handshake.
    if (alive() && m_handshake.established())
        m_stream.close();
}

TlsOutcome TlsLink::handshake(int limitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (int round = 0; round < 100'000; ++round) {
        if (m_context.abortFlag && m_handshake.usable() && m_stream.socket().open())
            return giveUp(TlsFailure::Aborted);
        if (std::optional<TlsOutcome> outcome = m_handshake.step())
            return std::move(*outcome);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return giveUp(TlsFailure::TimedOut);
        m_context.waker.waitFor(m_stream.socket().fd(), m_handshake.events(),
                                int(std::min<int64_t>(left, 100)));
    }
    return giveUp(TlsFailure::TimedOut);
}

void TlsLink::fail() {
    m_stream.socket().close();
    ERR_clear_error();
    if (m_handshake.established())
        m_context.abortFlag = 1;
}

bool TlsLink::hasBuffered() const {
    return m_handshake.usable() && m_stream.hasBuffered();
}

bool TlsLink::sendAll(std::span<const uint8_t> bytes, IoMode mode) {
    if (!alive() || !m_handshake.established()) {
        m_context.abortFlag = 1; // the connection is gone
        return false;
    }
    if (mode == IoMode::Normal && m_context.abortFlag)
        return false;
    size_t sent = 0;
    // While aborting, the last words to the peer must not hang the engine.
    const auto abortDeadline = Clock::now() + kAbortingWriteLimit;
    // A peer that stops reading must not hold this side for good.
    auto stallDeadline = Clock::now() + kWriteStallLimit;
    for (;;) {
        const uint64_t onWire = m_stream.socket().bytesOnWire();
        if (sent < bytes.size()) {
            const ssize_t n = sendSome(bytes.data() + sent, bytes.size() - sent);
            if (n > 0)
                sent += size_t(n);
            else if (n < 0 && errno != EAGAIN)
                return false; // sendSome ended the link
        } else {
            if (!m_stream.socket().flush())
                break;
            if (m_stream.socket().outPending() == 0)
                return true; // all of it is with the kernel, as a socket's send leaves it
        }
        if (m_stream.socket().bytesOnWire() != onWire)
            stallDeadline = Clock::now() + kWriteStallLimit;
        if (sent < bytes.size() && m_stream.socket().outRoom())
            continue; // more can be taken now
        if (mode == IoMode::Normal && m_context.abortFlag)
            return false;
        const bool lastWords = mode == IoMode::EvenWhenAborting && m_context.abortFlag;
        const auto deadline = lastWords ? std::min(abortDeadline, stallDeadline) : stallDeadline;
        if (millisecondsLeft(deadline) == 0)
            break; // a message cut short leaves the stream out of step: it ends here
        if (m_context.waker.waitFor(m_stream.socket().fd(), POLLOUT,
                                    std::min(millisecondsLeft(deadline), 100)))
            m_stream.socket().mayWrite();
    }
    fail();
    return false;
}

bool TlsLink::receiveExact(uint8_t* buffer, size_t n, int silenceLimitMs, IoMode mode) {
    if (!alive() || !m_handshake.established()) {
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
        if (got == 0 || errno != EAGAIN)
            return false; // receiveSome ended the link
        const int left = millisecondsLeft(deadline);
        if (left == 0)
            return false; // silence: the caller treats it as a missing reply
        waitReady(false, std::min(left, 100));
    }
    return true;
}

ssize_t TlsLink::receiveSome(uint8_t* buffer, size_t max) {
    if (!alive() || !m_handshake.established()) {
        errno = ENOTCONN;
        return -1;
    }
    if (max == 0) {
        errno = EINVAL; // 0 would read as the peer's close
        return -1;
    }
    if (!m_stream.socket().flush()) {
        fail();
        errno = EPIPE;
        return -1;
    }
    const TlsStream::Read got = m_stream.read(buffer, max);
    if (got.given > 0)
        return ssize_t(got.given);
    if (got.end == 0) {
        errno = EAGAIN;
        return -1;
    }
    // close_notify, or the connection ended without one: either way the
    // peer is gone. Anything else (a record that does not authenticate)
    // ends the link with its cause.
    fail();
    if (got.end == kTlsEndOfStream)
        return 0;
    errno = got.end;
    return -1;
}

bool TlsLink::readyToSend() {
    if (!alive() || !m_handshake.established()) {
        errno = ENOTCONN;
        return false;
    }
    if (!m_stream.socket().flush()) {
        const int cause = m_stream.socket().error();
        fail();
        errno = cause;
        return false;
    }
    if (!m_stream.socket().outRoom()) {
        errno = EAGAIN;
        return false;
    }
    return true;
}

ssize_t TlsLink::sendSome(const uint8_t* bytes, size_t n) {
    const iovec piece{const_cast<uint8_t*>(bytes), n};
    return sendSomeOf({&piece, 1});
}

ssize_t TlsLink::sendSomeOf(std::span<const iovec> pieces) {
    if (!readyToSend())
        return -1;
    // The pieces are sealed where they lie, a block's short header in the
    // same record as its data.
    size_t n = 0;
    for (size_t i = 0; i < pieces.size() && n < kWriteChunk; ++i)
        n += std::min(pieces[i].iov_len, kWriteChunk - n);
    if (n == 0)
        return 0;
    if (!m_stream.write(pieces, n)) {
        const int cause = m_stream.socket().error() != 0 ? m_stream.socket().error() : EIO;
        fail();
        errno = cause;
        return -1;
    }
    return ssize_t(n);
}

bool TlsLink::waitReady(bool forWrite, int timeoutMs) {
    if (!alive()) {
        m_context.waker.pause(timeoutMs);
        return false;
    }
    if (!m_stream.socket().flush()) {
        fail();
        return true; // the next call reports the failure
    }
    if (m_stream.readableWithoutSocket())
        return true;
    if (forWrite && m_stream.socket().outRoom())
        return true;
    return waitDirections(forWrite, timeoutMs) != 0;
}

short TlsLink::waitDirections(bool forWrite, int timeoutMs) {
    if (!alive()) {
        m_context.waker.pause(timeoutMs);
        return 0;
    }
    if (!m_stream.socket().flush()) {
        fail();
        return short(POLLIN | (forWrite ? POLLOUT : 0)); // the next call reports the failure
    }
    // What is known without the socket is told at once; the socket is still
    // asked, without waiting, so that the other way is not left unread.
    short known = 0;
    if (m_stream.readableWithoutSocket())
        known |= POLLIN;
    if (forWrite && m_stream.socket().outRoom())
        known |= POLLOUT;
    const auto deadline = Clock::now() + std::chrono::milliseconds(known != 0 ? 0 : timeoutMs);
    // Each round waits for an event of the socket; the count only bounds it.
    for (int round = 0; round < 1000; ++round) {
        const short asked = short(
            ((known & POLLIN) ? 0 : POLLIN) |
            (m_stream.socket().outPending() > 0 || (forWrite && !(known & POLLOUT)) ? POLLOUT : 0));
        const short came = asked == 0 ? 0
                                      : m_context.waker.waitEvents(m_stream.socket().fd(), asked,
                                                                   millisecondsLeft(deadline));
        short ready = known;
        if (came & POLLIN)
            ready |= POLLIN; // data, or the end of the connection
        if (came & POLLOUT) {
            m_stream.socket().mayWrite();
            if (!m_stream.socket().flush()) {
                fail();
                return short(POLLIN | (forWrite ? POLLOUT : 0));
            }
            if (forWrite && m_stream.socket().outRoom())
                ready |= POLLOUT;
        }
        if (ready != 0 || came == 0 || millisecondsLeft(deadline) == 0)
            return ready; // ready, or the time is up, or the engine was woken
    }
    return known;
}

void TlsLink::drainInput() {
    uint8_t scrap[16 * 1024];
    for (int i = 0; i < 64 && alive() && m_handshake.established(); ++i) {
        if (receiveSome(scrap, sizeof scrap) <= 0)
            break;
    }
}

} // namespace zapfer
