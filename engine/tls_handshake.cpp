#include "tls_handshake.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace zapfer {

namespace {
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
    if (!ssl || !watchTrafficSecrets(ssl.get(), &records.secrets()) ||
        !attachSocketBio(ssl.get(), socket))
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

TlsHandshake::TlsHandshake(TlsRole role, const PairingKey& key, TlsSocket& socket,
                           TlsRecords& records)
    : m_socket(socket), m_records(records), m_key(key),
      m_ssl(pairedConnection(role, m_key, m_socket, m_records)) {}

short TlsHandshake::events() const {
    return short(POLLIN | (m_socket.outPending() > 0 ? POLLOUT : 0));
}

std::optional<TlsOutcome> TlsHandshake::step() {
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
            return failed(std::move(checked));
        // From here the records are the link's: OpenSSL must hold none of
        // the peer's bytes (it reads a record's exact length while
        // read-ahead is off).
        const TlsRole role = SSL_is_server(m_ssl.get()) ? TlsRole::Server : TlsRole::Client;
        if (SSL_has_pending(m_ssl.get()) || !m_records.start(role))
            return failed({TlsFailure::Setup, "no traffic keys from OpenSSL"});
        m_established = true;
        return TlsOutcome{};
    }
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
        return failed(failureOf(error, m_socket.error()));
    if (m_socket.error() != 0)
        return failed({TlsFailure::PeerClosed, std::strerror(m_socket.error())});
    if (m_socket.peerClosed())
        return failed({TlsFailure::PeerClosed, "closed by the peer"});
    return std::nullopt;
}

TlsOutcome TlsHandshake::failed(TlsOutcome outcome) {
    m_socket.close();
    ERR_clear_error();
    return outcome;
}

} // namespace zapfer
