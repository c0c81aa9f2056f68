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
    TlsSocket* socket = socketOf(bio);
    uint8_t* space = socket->appendSpace(size);
    if (space == nullptr)
        return 0;
    // The records of one write leave together, in one system call, when
    // the link next flushes.
    std::memcpy(space, data, size);
    socket->appended(size);
    *written = size;
    return 1;
}

int bioRead(BIO* bio, char* out, size_t size, size_t* readBytes) {
    BIO_clear_retry_flags(bio);
    TlsSocket* socket = socketOf(bio);
    *readBytes = 0;
    if (socket->inPending() == 0) {
        const TlsSocket::Filled filled = socket->fill();
        if (filled == TlsSocket::Filled::WouldBlock)
            BIO_set_retry_read(bio);
        if (filled != TlsSocket::Filled::Some)
            return 0;
    }
    const size_t take = std::min(size, socket->inPending());
    std::memcpy(out, socket->input().data(), take);
    socket->consume(take);
    *readBytes = take;
    return take > 0 ? 1 : 0;
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

struct Sent {
    size_t count = 0;
    bool blocked = false; // the socket's buffer is full
    int error = 0;
};

// Moves bytes to the socket without waiting.
Sent sendNow(int fd, const uint8_t* bytes, size_t n) {
    Sent sent;
    for (int attempt = 0; attempt < 1000 && sent.count < n && sent.error == 0; ++attempt) {
        const ssize_t got =
            ::send(fd, bytes + sent.count, n - sent.count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (got > 0) {
            sent.count += size_t(got);
            sent.blocked = sent.count < n;
            if (sent.blocked)
                break;
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            sent.blocked = true;
            break;
        } else {
            sent.error = got < 0 ? errno : EPIPE;
        }
    }
    return sent;
}
} // namespace

bool attachSocketBio(SSL* ssl, TlsSocket& socket) {
    const BIO_METHOD* method = socketMethod();
    if (ssl == nullptr || method == nullptr)
        return false;
    BIO* bio = BIO_new(method);
    if (bio == nullptr)
        return false;
    BIO_set_data(bio, &socket);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    return true;
}

TlsSocket::TlsSocket(UniqueFd socket) : m_socket(std::move(socket)) {}

void TlsSocket::close() {
    m_socket.reset();
    m_out.clear();
    m_in.clear();
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

bool TlsSocket::flush() {
    if (!m_socket)
        return false;
    if (outPending() > 0 && !m_sendBlocked && m_error == 0) {
        const Sent sent = sendNow(m_socket.get(), m_out.bytes().data(), outPending());
        m_bytesOnWire += sent.count;
        m_sendBlocked = sent.blocked;
        m_error = sent.error;
        // The rest moves to the front when more is queued, where it is at
        // most kOutLimit bytes.
        m_out.drop(sent.count);
    }
    return m_error == 0;
}

uint8_t* TlsSocket::appendSpace(size_t n) {
    if (m_error != 0)
        return nullptr;
    // Grows once, to twice what one call of the link needs: the bytes still
    // waiting move to the front only every other call or so.
    return m_out.space(n, 2 * (std::max(outPending(), kOutLimit) + n));
}

TlsSocket::Filled TlsSocket::fill() {
    // The unused bytes are at most a record's start: moving them is cheap.
    const size_t room = kInputSpan - std::min(kInputSpan, inPending());
    if (room == 0)
        return Filled::Some; // full already: the caller has enough to work on
    uint8_t* space = m_in.space(room, kInputSpan);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const ssize_t n = ::recv(m_socket.get(), space, room, MSG_DONTWAIT);
        if (n > 0) {
            m_in.added(size_t(n));
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

} // namespace zapfer
