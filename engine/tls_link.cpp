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
// A read ended with the peer's close_notify or the connection's end.
constexpr int kEndOfStream = -1;
// Records opened by one read at most: more than any reader's buffer holds.
constexpr int kRecordsPerRead = 256;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<int64_t>(0, left.count()));
}
} // namespace

void TlsLink::fail() {
    m_socket.close();
    ERR_clear_error();
    if (m_established)
        m_context.abortFlag = 1;
}

bool TlsLink::hasBuffered() const {
    return m_ssl && (m_records.hasLeftover() || m_socket.inPending() > 0);
}

bool TlsLink::readableWithoutSocket() const {
    return m_records.hasLeftover() || m_readEnd != 0 || TlsRecords::wholeRecord(m_socket.input());
}

bool TlsLink::sendAll(std::span<const uint8_t> bytes, IoMode mode) {
    if (!alive() || !m_established) {
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
        const uint64_t onWire = m_socket.bytesOnWire();
        if (sent < bytes.size()) {
            const ssize_t n = sendSome(bytes.data() + sent, bytes.size() - sent);
            if (n > 0)
                sent += size_t(n);
            else if (n < 0 && errno != EAGAIN)
                return false; // sendSome ended the link
        } else {
            if (!m_socket.flush())
                break;
            if (m_socket.outPending() == 0)
                return true; // all of it is with the kernel, as a socket's send leaves it
        }
        if (m_socket.bytesOnWire() != onWire)
            stallDeadline = Clock::now() + kWriteStallLimit;
        if (sent < bytes.size() && m_socket.outRoom())
            continue; // more can be taken now
        if (mode == IoMode::Normal && m_context.abortFlag)
            return false;
        const bool lastWords = mode == IoMode::EvenWhenAborting && m_context.abortFlag;
        const auto deadline = lastWords ? std::min(abortDeadline, stallDeadline) : stallDeadline;
        if (millisecondsLeft(deadline) == 0)
            break; // a message cut short leaves the stream out of step: it ends here
        if (m_context.waker.waitFor(m_socket.fd(), POLLOUT,
                                    std::min(millisecondsLeft(deadline), 100)))
            m_socket.mayWrite();
    }
    fail();
    return false;
}

bool TlsLink::receiveExact(uint8_t* buffer, size_t n, int silenceLimitMs, IoMode mode) {
    if (!alive() || !m_established) {
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
    if (!alive() || !m_established) {
        errno = ENOTCONN;
        return -1;
    }
    if (max == 0) {
        errno = EINVAL; // 0 would read as the peer's close
        return -1;
    }
    if (!m_socket.flush()) {
        fail();
        errno = EPIPE;
        return -1;
    }
    // As a socket's recv does, take all that has arrived, record by record.
    // An end after some bytes is kept for the next call.
    // Once the bytes read ahead are used up, the call ends rather than ask
    // the socket again: that would most often find nothing, and the caller
    // waits for more anyway.
    size_t total = m_records.takeLeftover(buffer, max);
    int end = m_readEnd;
    for (int record = 0; record < kRecordsPerRead && total < max && end == 0; ++record) {
        const TlsRecords::OpenResult opened =
            m_records.open(m_socket.input(), buffer + total, max - total);
        m_socket.consume(opened.consumed);
        switch (opened.kind) {
        case TlsRecords::Opened::Data:
        case TlsRecords::Opened::Control:
            total += opened.given;
            continue;
        case TlsRecords::Opened::End:
            end = kEndOfStream;
            continue;
        case TlsRecords::Opened::Failed:
            end = opened.error;
            continue;
        case TlsRecords::Opened::Incomplete:
            break;
        }
        if (total > 0)
            break;
        const TlsSocket::Filled filled = m_socket.fill();
        if (filled == TlsSocket::Filled::WouldBlock)
            break;
        if (filled == TlsSocket::Filled::Closed)
            end = kEndOfStream; // a cut message is caught by the protocol's lengths
        else if (filled == TlsSocket::Filled::Failed)
            end = m_socket.error();
    }
    if (m_records.owesKeyUpdate() && end == 0 && !answerKeyUpdate()) {
        errno = EPIPE;
        return -1;
    }
    if (total > 0) {
        m_readEnd = end;
        return ssize_t(total);
    }
    if (end == 0) {
        errno = EAGAIN;
        return -1;
    }
    // close_notify, or the connection ended without one: either way the
    // peer is gone. Anything else (a record that does not authenticate)
    // ends the link with its cause.
    fail();
    if (end == kEndOfStream)
        return 0;
    errno = end;
    return -1;
}

bool TlsLink::answerKeyUpdate() {
    uint8_t* out = m_socket.appendSpace(TlsRecords::sealedSize(TlsRecords::kKeyUpdateSize));
    const size_t made = out != nullptr ? m_records.sealKeyUpdate(out) : 0;
    if (made == 0) {
        fail();
        return false;
    }
    m_socket.appended(made);
    m_socket.flush();
    return true;
}

bool TlsLink::readyToSend() {
    if (!alive() || !m_established) {
        errno = ENOTCONN;
        return false;
    }
    if (!m_socket.flush()) {
        const int cause = m_socket.error();
        fail();
        errno = cause;
        return false;
    }
    if (!m_socket.outRoom()) {
        errno = EAGAIN;
        return false;
    }
    return true;
}

ssize_t TlsLink::sendSome(const uint8_t* bytes, size_t n) {
    if (!readyToSend())
        return -1;
    if (n == 0)
        return 0;
    const iovec piece{const_cast<uint8_t*>(bytes), n};
    return writeRecords({&piece, 1}, std::min(n, kWriteChunk));
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
    return writeRecords(pieces, n);
}

ssize_t TlsLink::writeRecords(std::span<const iovec> pieces, size_t n) {
    uint8_t* out = m_socket.appendSpace(TlsRecords::sealedSize(n));
    const size_t made = out != nullptr ? m_records.seal(pieces, n, out) : 0;
    if (made > 0)
        m_socket.appended(made);
    if (made == 0 || !m_socket.flush()) {
        const int cause = m_socket.error() != 0 ? m_socket.error() : EIO;
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
    if (!m_socket.flush()) {
        fail();
        return true; // the next call reports the failure
    }
    if (readableWithoutSocket())
        return true;
    if (forWrite && m_socket.outRoom())
        return true;
    return waitDirections(forWrite, timeoutMs) != 0;
}

short TlsLink::waitDirections(bool forWrite, int timeoutMs) {
    if (!alive()) {
        m_context.waker.pause(timeoutMs);
        return 0;
    }
    if (!m_socket.flush()) {
        fail();
        return short(POLLIN | (forWrite ? POLLOUT : 0)); // the next call reports the failure
    }
    // What is known without the socket is told at once; the socket is still
    // asked, without waiting, so that the other way is not left unread.
    short known = 0;
    if (readableWithoutSocket())
        known |= POLLIN;
    if (forWrite && m_socket.outRoom())
        known |= POLLOUT;
    const auto deadline = Clock::now() + std::chrono::milliseconds(known != 0 ? 0 : timeoutMs);
    // Each round waits for an event of the socket; the count only bounds it.
    for (int round = 0; round < 1000; ++round) {
        const short asked =
            short(((known & POLLIN) ? 0 : POLLIN) |
                  (m_socket.outPending() > 0 || (forWrite && !(known & POLLOUT)) ? POLLOUT : 0));
        const short came = asked == 0 ? 0
                                      : m_context.waker.waitEvents(m_socket.fd(), asked,
                                                                   millisecondsLeft(deadline));
        short ready = known;
        if (came & POLLIN)
            ready |= POLLIN; // data, or the end of the connection
        if (came & POLLOUT) {
            m_socket.mayWrite();
            if (!m_socket.flush()) {
                fail();
                return short(POLLIN | (forWrite ? POLLOUT : 0));
            }
            if (forWrite && m_socket.outRoom())
                ready |= POLLOUT;
        }
        if (ready != 0 || came == 0 || millisecondsLeft(deadline) == 0)
            return ready; // ready, or the time is up, or the engine was woken
    }
    return known;
}

void TlsLink::drainInput() {
    uint8_t scrap[16 * 1024];
    for (int i = 0; i < 64 && alive() && m_established; ++i) {
        if (receiveSome(scrap, sizeof scrap) <= 0)
            break;
    }
}

} // namespace zapfer
