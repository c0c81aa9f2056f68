// The paired link's setting up: the construction's OpenSSL connection over
// the link's own socket BIO, and the handshake with its failures sorted into
// what a person can be told.

#include "tls_link.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace zapfer {

namespace {
using Clock = std::chrono::steady_clock;

// Read from the socket at once: about what the kernel holds of a fast link.
constexpr size_t kInputSpan = 256 * 1024;

struct MethodFree {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};
} // namespace

TlsLink::TlsLink(UniqueFd socket, TlsRole role, const PairingKey& key, int32_t blockSize,
                 LinkContext context)
    : m_socket(std::move(socket)), m_role(role), m_key(key), m_context(context) {
    m_traits.dialect = Dialect::Stream;
    m_traits.blockSize = blockSize;
    m_traits.silenceLimitMs = 2000;
    if (!setUp())
        m_ssl.reset();
}

TlsLink::~TlsLink() {
    // A close_notify tells the peer the stream ended here and was not cut.
    if (alive() && m_established) {
        SSL_shutdown(m_ssl.get());
        m_sendBlocked = false;
        flushOut();
    }
}

bool TlsLink::setUp() {
    m_sslContext = newPairedContext(m_role);
    if (!m_sslContext)
        return false;
    m_ssl = newPairedSsl(m_sslContext.get(), m_role, m_key);
    const BIO_METHOD* method = socketMethod();
    if (!m_ssl || method == nullptr)
        return false;
    BIO* bio = BIO_new(method);
    if (bio == nullptr)
        return false;
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(m_ssl.get(), bio, bio);
    return true;
}

TlsOutcome TlsLink::handshake(int limitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (int round = 0; round < 100'000; ++round) {
        if (m_context.abortFlag && m_ssl && m_socket)
            return giveUp(TlsFailure::Aborted);
        if (std::optional<TlsOutcome> outcome = handshakeStep())
            return std::move(*outcome);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return giveUp(TlsFailure::TimedOut);
        m_context.waker.waitFor(m_socket.get(), handshakeEvents(),
                                int(std::min<int64_t>(left, 100)));
    }
    return giveUp(TlsFailure::TimedOut);
}

short TlsLink::handshakeEvents() const {
    return short(POLLIN | (outPending() > 0 ? POLLOUT : 0));
}

std::optional<TlsOutcome> TlsLink::handshakeStep() {
    if (!m_ssl)
        return TlsOutcome{TlsFailure::Setup, "OpenSSL could not be set up"};
    if (!m_socket)
        return TlsOutcome{TlsFailure::PeerClosed, "no connection"};
    if (m_established)
        return TlsOutcome{};
    // The caller waits on the socket itself: whether it became writable is
    // not known here, so sending is tried.
    m_sendBlocked = false;
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl.get());
    const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl.get(), result);
    // Our flight, or our alert, must reach the peer whatever happens next.
    flushOut();
    if (result == 1) {
        if (TlsOutcome checked = checkPairedHandshake(m_ssl.get()); !checked.ok())
            return handshakeFailed(std::move(checked));
        m_established = true;
        return TlsOutcome{};
    }
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
        return handshakeFailed(failureOf(error));
    if (m_socketError != 0)
        return handshakeFailed({TlsFailure::PeerClosed, std::strerror(m_socketError)});
    if (m_peerClosed)
        return handshakeFailed({TlsFailure::PeerClosed, "closed by the peer"});
    return std::nullopt;
}

TlsOutcome TlsLink::handshakeFailed(TlsOutcome outcome) {
    m_socket.reset();
    m_out.clear();
    m_outStart = 0;
    ERR_clear_error();
    return outcome;
}

TlsOutcome TlsLink::failureOf(int sslError) {
    if (sslError == SSL_ERROR_ZERO_RETURN)
        return {TlsFailure::PeerClosed, "closed by the peer"};
    if (sslError == SSL_ERROR_SYSCALL) {
        if (m_socketError != 0)
            return {TlsFailure::PeerClosed, std::strerror(m_socketError)};
        return {TlsFailure::PeerClosed, "closed by the peer"};
    }
    // The first error queued is the cause; later ones are its consequences.
    return pairedFailureOf(ERR_peek_error());
}

const BIO_METHOD* TlsLink::socketMethod() {
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

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a
// closed connection, and may make OpenSSL retry a write. This one collects
// what OpenSSL writes in m_out, which the link sends with MSG_NOSIGNAL.
int TlsLink::bioWrite(BIO* bio, const char* data, size_t size, size_t* written) {
    auto* link = static_cast<TlsLink*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (link->m_socketError != 0)
        return 0;
    // The records of one write leave together, in one system call, when
    // the link next flushes.
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    link->m_out.insert(link->m_out.end(), bytes, bytes + size);
    *written = size;
    return 1;
}

int TlsLink::bioRead(BIO* bio, char* out, size_t size, size_t* readBytes) {
    auto* link = static_cast<TlsLink*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (link->inPending() > 0) {
        const size_t take = std::min(size, link->inPending());
        std::memcpy(out, link->m_in.data() + link->m_inStart, take);
        link->m_inStart += take;
        *readBytes = take;
        return 1;
    }
    link->m_inStart = 0;
    link->m_inEnd = 0;
    if (link->m_in.empty())
        link->m_in.resize(kInputSpan);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const ssize_t n =
            ::recv(link->m_socket.get(), link->m_in.data(), link->m_in.size(), MSG_DONTWAIT);
        if (n > 0) {
            const size_t take = std::min(size, size_t(n));
            std::memcpy(out, link->m_in.data(), take);
            link->m_inStart = take;
            link->m_inEnd = size_t(n);
            *readBytes = take;
            return 1;
        }
        if (n == 0) {
            link->m_peerClosed = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_read(bio);
            return 0;
        }
        link->m_socketError = errno;
        return 0;
    }
    BIO_set_retry_read(bio);
    return 0;
}

long TlsLink::bioControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1; // the link flushes after every call into OpenSSL
    case BIO_CTRL_EOF: {
        const auto* link = static_cast<TlsLink*>(BIO_get_data(bio));
        return link->m_peerClosed && link->inPending() == 0 ? 1 : 0;
    }
    default:
        return 0;
    }
}

} // namespace zapfer
