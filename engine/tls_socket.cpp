#include "tls_socket.h"

#include <openssl/bio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/socket.h>

namespace zapfer {

namespace {
// Encrypted bytes that may wait for the kernel before the link takes no more.
constexpr size_t kOutLimit = 64 * 1024;
// Read from the socket at once: about what the kernel holds of a fast link.
constexpr size_t kInputSpan = 256 * 1024;

struct MethodFree {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

TlsSocket* socketOf(BIO* bio) {
    return static_cast<TlsSocket*>(BIO_get_data(bio));
}

int bioWrite(BIO* bio, const char* data, size_t size, size_t* written) {
    BIO_clear_retry_flags(bio);
    if (!socketOf(bio)->queue(reinterpret_cast<const uint8_t*>(data), size))
        return 0;
    *written = size;
    return 1;
}

int bioRead(BIO* bio, char* out, size_t size, size_t* readBytes) {
    BIO_clear_retry_flags(bio);
    bool wouldBlock = false;
    *readBytes = socketOf(bio)->read(reinterpret_cast<uint8_t*>(out), size, wouldBlock);
    if (wouldBlock)
        BIO_set_retry_read(bio);
    return *readBytes > 0 ? 1 : 0;
}

long bioControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1; // the link flushes after every call into OpenSSL
    case BIO_CTRL_EOF: {
        const TlsSocket* socket = socketOf(bio);
        return socket->peerClosed() && socket->inPending() == 0 ? 1 : 0;
    }
    default:
        return 0;
    }
}

const BIO_METHOD* socketMethod() {
    static const std::unique_ptr<BIO_METHOD, MethodFree> method = [] {
        std::unique_ptr<BIO_METHOD, MethodFree> made(
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zapfer socket"));
        if (made) {
            BIO_meth_set_write_ex(made.get(), bioWrite);
            BIO_meth_set_read_ex(made.get(), bioRead);
            BIO_meth_set_ctrl(made.get(), bioControl);
        }
        return made;
    }();
    return method.get();
}
} // namespace

TlsSocket::TlsSocket(UniqueFd socket) : m_socket(std::move(socket)) {}

bool TlsSocket::attachTo(SSL* ssl) {
    const BIO_METHOD* method = socketMethod();
    if (ssl == nullptr || method == nullptr)
        return false;
    BIO* bio = BIO_new(method);
    if (bio == nullptr)
        return false;
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    return true;
}

void TlsSocket::close() {
    m_socket.reset();
    m_outStart = m_outEnd = 0;
    m_inStart = m_inEnd = 0;
}

void TlsSocket::discardArrived() {
    uint8_t scrap[16 * 1024];
    for (int round = 0; round < 64 && m_socket; ++round) {
        const ssize_t n = ::recv(m_socket.get(), scrap, sizeof scrap, MSG_DONTWAIT);
        if (n <= 0 && !(n < 0 && errno == EINTR))
            break;
    }
}

bool TlsSocket::outRoom() const {
    return outPending() < kOutLimit;
}

size_t TlsSocket::sendRaw(const uint8_t* bytes, size_t n) {
    size_t sent = 0;
    for (int attempt = 0; attempt < 1000 && sent < n && m_error == 0; ++attempt) {
        const ssize_t got =
            ::send(m_socket.get(), bytes + sent, n - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (got > 0) {
            sent += size_t(got);
            m_bytesOnWire += uint64_t(got);
            m_sendBlocked = sent < n; // the socket's buffer is full
            if (m_sendBlocked)
                break;
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_sendBlocked = true;
            break;
        } else {
            m_error = got < 0 ? errno : EPIPE;
        }
    }
    return sent;
}

bool TlsSocket::flush() {
    if (!m_socket)
        return false;
    if (outPending() > 0 && !m_sendBlocked) {
        m_outStart += sendRaw(m_out.get() + m_outStart, outPending());
        // The rest moves to the front when more is queued, where it is at
        // most kOutLimit bytes.
        if (m_outStart == m_outEnd)
            m_outStart = m_outEnd = 0;
    }
    return m_error == 0;
}

uint8_t* TlsSocket::appendSpace(size_t n) {
    if (m_error != 0)
        return nullptr;
    if (m_outEnd + n <= m_outCapacity)
        return m_out.get() + m_outEnd;
    // What the kernel has not taken yet goes first.
    const size_t pending = outPending();
    if (pending + n > m_outCapacity) {
        // Grows once, to twice what one call of the link needs: the bytes
        // still waiting move to the front only every other call or so.
        const size_t capacity = 2 * std::max(pending + n, kOutLimit + n);
        auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
        if (pending > 0)
            std::memcpy(grown.get(), m_out.get() + m_outStart, pending);
        m_out = std::move(grown);
        m_outCapacity = capacity;
    } else if (pending > 0) {
        std::memmove(m_out.get(), m_out.get() + m_outStart, pending);
    }
    m_outStart = 0;
    m_outEnd = pending;
    return m_out.get() + m_outEnd;
}

bool TlsSocket::queue(const uint8_t* bytes, size_t n) {
    uint8_t* space = appendSpace(n);
    if (space == nullptr)
        return false;
    // The records of one write leave together, in one system call, when
    // the link next flushes.
    std::memcpy(space, bytes, n);
    appended(n);
    return true;
}

void TlsSocket::consume(size_t n) {
    m_inStart += std::min(n, m_inEnd - m_inStart);
    if (m_inStart == m_inEnd)
        m_inStart = m_inEnd = 0;
}

TlsSocket::Filled TlsSocket::fill() {
    if (!m_in)
        m_in = std::make_unique_for_overwrite<uint8_t[]>(kInputSpan);
    // The unused bytes are at most a record's start: moving them is cheap.
    if (m_inStart > 0) {
        std::memmove(m_in.get(), m_in.get() + m_inStart, m_inEnd - m_inStart);
        m_inEnd -= m_inStart;
        m_inStart = 0;
    }
    if (m_inEnd == kInputSpan)
        return Filled::Some; // full already: the caller has enough to work on
    for (int attempt = 0; attempt < 100; ++attempt) {
        const ssize_t n =
            ::recv(m_socket.get(), m_in.get() + m_inEnd, kInputSpan - m_inEnd, MSG_DONTWAIT);
        if (n > 0) {
            m_inEnd += size_t(n);
            return Filled::Some;
        }
        if (n == 0) {
            m_peerClosed = true;
            return Filled::Closed;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Filled::WouldBlock;
        m_error = errno;
        return Filled::Failed;
    }
    return Filled::WouldBlock;
}

size_t TlsSocket::read(uint8_t* out, size_t size, bool& wouldBlock) {
    wouldBlock = false;
    if (inPending() == 0) {
        const Filled filled = fill();
        wouldBlock = filled == Filled::WouldBlock;
        if (filled != Filled::Some)
            return 0;
    }
    const size_t take = std::min(size, inPending());
    std::memcpy(out, m_in.get() + m_inStart, take);
    consume(take);
    return take;
}

} // namespace zapfer
