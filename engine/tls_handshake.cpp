// The paired link's setting up: the OpenSSL context and the socket BIO, the
// external PSK offered and found, and the handshake with its failures sorted
// into what a person can be told.

#include "tls_link.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace zapfer {

namespace {
using Clock = std::chrono::steady_clock;

// TLS_AES_128_GCM_SHA256: the one suite of the construction.
constexpr unsigned char kCipherId[] = {0x13, 0x01};

struct MethodFree {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

SSL_SESSION* pskSession(SSL* ssl, const PairingKey& key) {
    const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kCipherId);
    SSL_SESSION* session = SSL_SESSION_new();
    if (cipher == nullptr || session == nullptr ||
        SSL_SESSION_set1_master_key(session, key.bytes.data(), key.bytes.size()) != 1 ||
        SSL_SESSION_set_cipher(session, cipher) != 1 ||
        SSL_SESSION_set_protocol_version(session, TLS1_3_VERSION) != 1) {
        SSL_SESSION_free(session);
        return nullptr;
    }
    return session;
}

// Only the pairing key authenticates a peer: a certificate proves nothing here.
int refuseCertificate(int, X509_STORE_CTX*) {
    return 0;
}

std::string errorText(unsigned long code) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}
} // namespace

void TlsLink::SslFree::operator()(SSL* ssl) const {
    SSL_free(ssl);
}
void TlsLink::SslFree::operator()(SSL_CTX* context) const {
    SSL_CTX_free(context);
}

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
        flushOut();
    }
}

bool TlsLink::setUp() {
    const bool client = m_role == TlsRole::Client;
    m_sslContext.reset(SSL_CTX_new(client ? TLS_client_method() : TLS_server_method()));
    SSL_CTX* context = m_sslContext.get();
    if (context == nullptr || SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_ciphersuites(context, "TLS_AES_128_GCM_SHA256") != 1)
        return false;
    // Every connection is keyed afresh: no tickets, no resumption.
    SSL_CTX_set_num_tickets(context, 0);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    // A server that answers without the PSK would have to show a
    // certificate; the client refuses every one. (A server asking for one
    // would need a session id context, and never asks: it has no other way in.)
    if (client)
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, refuseCertificate);
    // Several records per read from the socket.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, 64 * 1024);

    m_ssl.reset(SSL_new(context));
    const BIO_METHOD* method = socketMethod();
    if (!m_ssl || method == nullptr)
        return false;
    BIO* bio = BIO_new(method);
    if (bio == nullptr)
        return false;
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(m_ssl.get(), bio, bio);
    SSL_set_app_data(m_ssl.get(), this);
    if (client) {
        SSL_set_psk_use_session_callback(m_ssl.get(), useSession);
        SSL_set_connect_state(m_ssl.get());
    } else {
        SSL_set_psk_find_session_callback(m_ssl.get(), findSession);
        SSL_set_accept_state(m_ssl.get());
    }
    return true;
}

TlsOutcome TlsLink::handshake(int limitMs) {
    if (!m_ssl)
        return {TlsFailure::Setup, "OpenSSL could not be set up"};
    if (!m_socket)
        return {TlsFailure::PeerClosed, "no connection"};
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (int round = 0; round < 100'000; ++round) {
        if (m_context.abortFlag)
            return handshakeFailed({TlsFailure::Aborted, {}});
        ERR_clear_error();
        const int result = SSL_do_handshake(m_ssl.get());
        const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl.get(), result);
        // Our flight, or our alert, must reach the peer whatever happens next.
        flushOut();
        if (result == 1) {
            // The PSK must have been used, with a key exchange on top of it
            // (psk_dhe_ke) so that a code learnt later opens no recording.
            if (SSL_session_reused(m_ssl.get()) != 1)
                return handshakeFailed({TlsFailure::Refused, "the pairing key was not used"});
            if (SSL_get_negotiated_group(m_ssl.get()) <= 0)
                return handshakeFailed({TlsFailure::Refused, "no key exchange"});
            m_established = true;
            return {};
        }
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            return handshakeFailed(failureOf(error));
        if (m_socketError != 0)
            return handshakeFailed({TlsFailure::PeerClosed, std::strerror(m_socketError)});
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return handshakeFailed({TlsFailure::TimedOut, {}});
        const short events = short(POLLIN | (outPending() > 0 ? POLLOUT : 0));
        m_context.waker.waitFor(m_socket.get(), events, int(std::min<int64_t>(left, 100)));
    }
    return handshakeFailed({TlsFailure::TimedOut, {}});
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
    const unsigned long code = ERR_peek_error();
    if (code == 0)
        return {TlsFailure::Refused, "TLS error " + std::to_string(sslError)};
    TlsOutcome outcome{TlsFailure::Refused, errorText(code)};
    if (ERR_GET_LIB(code) != ERR_LIB_SSL)
        return outcome;
    switch (ERR_GET_REASON(code)) {
    case SSL_R_BINDER_DOES_NOT_VERIFY: // this side holds another key
    // The peer found our binder wrong: OpenSSL says so with illegal_parameter,
    // other stacks with decrypt_error.
    case SSL_R_SSLV3_ALERT_ILLEGAL_PARAMETER:
    case SSL_R_TLSV1_ALERT_DECRYPT_ERROR:
        outcome.failure = TlsFailure::WrongCode;
        break;
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
    case SSL_R_UNEXPECTED_RECORD:
        outcome.failure = TlsFailure::NotTls;
        break;
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
        outcome.failure = TlsFailure::PeerClosed;
        break;
    default:
        break;
    }
    return outcome;
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
    for (int attempt = 0; attempt < 100; ++attempt) {
        const ssize_t n = ::recv(link->m_socket.get(), out, size, MSG_DONTWAIT);
        if (n > 0) {
            *readBytes = size_t(n);
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
    case BIO_CTRL_EOF:
        return static_cast<TlsLink*>(BIO_get_data(bio))->m_peerClosed ? 1 : 0;
    default:
        return 0;
    }
}

int TlsLink::useSession(SSL* ssl, const EVP_MD* digest, const unsigned char** identity,
                        size_t* identityLength, SSL_SESSION** session) {
    const auto* link = static_cast<const TlsLink*>(SSL_get_app_data(ssl));
    SSL_SESSION* psk = pskSession(ssl, link->m_key);
    if (psk == nullptr)
        return 0;
    *identity = nullptr;
    *identityLength = 0;
    *session = nullptr;
    if (digest != nullptr &&
        SSL_CIPHER_get_handshake_digest(SSL_SESSION_get0_cipher(psk)) != digest) {
        SSL_SESSION_free(psk); // not usable with the suite under way
        return 1;
    }
    *identity = reinterpret_cast<const unsigned char*>(kPairingLabel.data());
    *identityLength = kPairingLabel.size();
    *session = psk;
    return 1;
}

int TlsLink::findSession(SSL* ssl, const unsigned char* identity, size_t identityLength,
                         SSL_SESSION** session) {
    const auto* link = static_cast<const TlsLink*>(SSL_get_app_data(ssl));
    *session = nullptr;
    // Another identity gets no key, and without a certificate the handshake fails.
    if (std::string_view(reinterpret_cast<const char*>(identity), identityLength) != kPairingLabel)
        return 1;
    *session = pskSession(ssl, link->m_key);
    return *session != nullptr ? 1 : 0;
}

} // namespace zapfer
