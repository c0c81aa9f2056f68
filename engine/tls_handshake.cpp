// The paired link's setting up: the construction's OpenSSL connection over
// the link's own socket, and the handshake with its failures sorted into
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

// The connection of `role`, offering or accepting `key`, on `socket`, its
// traffic secrets going to `records`; null when OpenSSL cannot set it up.
SslPtr pairedConnection(TlsRole role, const PairingKey& key, TlsSocket& socket,
                        TlsRecords& records) {
    // The connection keeps its context alive; nothing else needs it.
    const SslContextPtr context = newPairedContext(role);
    if (!context)
        return nullptr;
    catchTrafficSecrets(context.get());
    SslPtr ssl = newPairedSsl(context.get(), role, key);
    if (!ssl || !watchTrafficSecrets(ssl.get(), &records.secrets()) || !socket.attachTo(ssl.get()))
        return nullptr;
    return ssl;
}

TlsOutcome failureOf(int sslError, int socketError) {
    if (sslError == SSL_ERROR_ZERO_RETURN)
        return {TlsFailure::PeerClosed, "closed by the peer"};
    if (sslError == SSL_ERROR_SYSCALL) {
        if (socketError != 0)
            return {TlsFailure::PeerClosed, std::strerror(socketError)};
        return {TlsFailure::PeerClosed, "closed by the peer"};
    }
    // The first error queued is the cause; later ones are its consequences.
    return pairedFailureOf(ERR_peek_error());
}
} // namespace

TlsLink::TlsLink(UniqueFd socket, TlsRole role, const PairingKey& key, int32_t blockSize,
                 LinkContext context)
    : m_socket(std::move(socket)), m_key(key), m_context(context) {
    m_traits.dialect = Dialect::Stream;
    m_traits.blockSize = blockSize;
    m_traits.silenceLimitMs = 2000;
    m_ssl = pairedConnection(role, m_key, m_socket, m_records);
}

TlsLink::~TlsLink() {
    // A close_notify tells the peer the stream ended here and was not cut.
    // It goes through the link's records: OpenSSL's sequence numbers stopped
    // at the handshake.
    if (alive() && m_established) {
        const uint8_t closeNotify[] = {1, 0}; // warning, close_notify
        const iovec piece{const_cast<uint8_t*>(closeNotify), sizeof closeNotify};
        uint8_t* out = m_socket.appendSpace(TlsRecords::sealedSize(sizeof closeNotify));
        const size_t made =
            out != nullptr ? m_records.seal({&piece, 1}, sizeof closeNotify, out, RecordType::Alert)
                           : 0;
        m_socket.appended(made);
        m_socket.mayWrite();
        m_socket.flush();
        // Unread input (a peer's session tickets) would make the close a
        // reset, which may cost the peer our last records.
        m_socket.discardArrived();
    }
}

TlsOutcome TlsLink::handshake(int limitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (int round = 0; round < 100'000; ++round) {
        if (m_context.abortFlag && m_ssl && m_socket.open())
            return giveUp(TlsFailure::Aborted);
        if (std::optional<TlsOutcome> outcome = handshakeStep())
            return std::move(*outcome);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return giveUp(TlsFailure::TimedOut);
        m_context.waker.waitFor(m_socket.fd(), handshakeEvents(),
                                int(std::min<int64_t>(left, 100)));
    }
    return giveUp(TlsFailure::TimedOut);
}

short TlsLink::handshakeEvents() const {
    return short(POLLIN | (m_socket.outPending() > 0 ? POLLOUT : 0));
}

std::optional<TlsOutcome> TlsLink::handshakeStep() {
    if (!m_ssl)
        return TlsOutcome{TlsFailure::Setup, "OpenSSL could not be set up"};
    if (!m_socket.open())
        return TlsOutcome{TlsFailure::PeerClosed, "no connection"};
    if (m_established)
        return TlsOutcome{};
    // The caller waits on the socket itself: whether it became writable is
    // not known here, so sending is tried.
    m_socket.mayWrite();
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl.get());
    const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl.get(), result);
    // Our flight, or our alert, must reach the peer whatever happens next.
    m_socket.flush();
    if (result == 1) {
        if (TlsOutcome checked = checkPairedHandshake(m_ssl.get()); !checked.ok())
            return handshakeFailed(std::move(checked));
        // From here the records are the link's: OpenSSL must hold none of
        // the peer's bytes (it reads a record's exact length while
        // read-ahead is off).
        const TlsRole role = SSL_is_server(m_ssl.get()) ? TlsRole::Server : TlsRole::Client;
        if (SSL_has_pending(m_ssl.get()) || !m_records.start(role))
            return handshakeFailed({TlsFailure::Setup, "no traffic keys from OpenSSL"});
        m_established = true;
        return TlsOutcome{};
    }
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
        return handshakeFailed(failureOf(error, m_socket.error()));
    if (m_socket.error() != 0)
        return handshakeFailed({TlsFailure::PeerClosed, std::strerror(m_socket.error())});
    if (m_socket.peerClosed())
        return handshakeFailed({TlsFailure::PeerClosed, "closed by the peer"});
    return std::nullopt;
}

TlsOutcome TlsLink::handshakeFailed(TlsOutcome outcome) {
    m_socket.close();
    ERR_clear_error();
    return outcome;
}

} // namespace zapfer
