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
    m_out.clear();
    m_outStart = 0;
    m_inStart = m_inEnd = 0;
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
        m_outStart += sendRaw(m_out.data() + m_outStart, outPending());
        // The rest moves to the front when more is queued, where it is at
        // most kOutLimit bytes.
        if (m_outStart == m_out.size()) {
            m_out.clear();
            m_outStart = 0;
        }
    }
    return m_error == 0;
}

bool TlsSocket::queue(const uint8_t* bytes, size_t n) {
    if (m_error != 0)
        return false;
    if (m_outStart > 0) { // what the kernel has not taken yet goes first
        m_out.erase(m_out.begin(), m_out.begin() + ptrdiff_t(m_outStart));
        m_outStart = 0;
    }
    // The records of one write leave together, in one system call, when
    // the link next flushes.
    m_out.insert(m_out.end(), bytes, bytes + n);
    return true;
}

size_t TlsSocket::read(uint8_t* out, size_t size, bool& wouldBlock) {
    wouldBlock = false;
    if (inPending() > 0) {
        const size_t take = std::min(size, inPending());
        std::memcpy(out, m_in.data() + m_inStart, take);
        m_inStart += take;
        return take;
    }
    m_inStart = 0;
    m_inEnd = 0;
    if (m_in.empty())
        m_in.resize(kInputSpan);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const ssize_t n = ::recv(m_socket.get(), m_in.data(), m_in.size(), MSG_DONTWAIT);
        if (n > 0) {
            const size_t take = std::min(size, size_t(n));
            std::memcpy(out, m_in.data(), take);
            m_inStart = take;
            m_inEnd = size_t(n);
            return take;
        }
        if (n == 0) {
            m_peerClosed = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wouldBlock = true;
            return 0;
        }
        m_error = errno;
        return 0;
    }
    wouldBlock = true;
    return 0;
}

} // namespace zapfer
