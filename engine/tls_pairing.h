#pragma once

// The paired link's construction in OpenSSL terms: TLS 1.3 only, the one
// suite TLS_AES_128_GCM_SHA256, the external PSK under the identity
// "zapfer-pairing-1", psk_dhe_ke, no certificates, no tickets. TlsLink runs
// it over a socket; anything else that speaks it (a peer fed from memory)
// sets it up here, so that there is one place that defines it.

#include "pairing_key.h"

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace zapfer {

enum class TlsRole {
    Client, // the side that dialled
    Server, // the side that accepted
};

// Why a handshake did not complete; the front ends word it.
enum class TlsFailure {
    None,
    WrongCode,  // the peer speaks the paired link with another code
    Refused,    // the peer speaks TLS but not this construction
    NotTls,     // the peer's bytes are not TLS (a plain sender, garbage)
    PeerClosed, // the connection ended during the handshake
    TimedOut,   // no handshake within the limit
    Aborted,    // the transfer was aborted meanwhile
    Setup,      // OpenSSL could not be set up on this machine
};

struct TlsOutcome {
    TlsFailure failure = TlsFailure::None;
    std::string detail; // OpenSSL's reason or the system error, for logs

    bool ok() const { return failure == TlsFailure::None; }
};

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using SslContextPtr = std::unique_ptr<SSL_CTX, SslFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

// A context for one side of the construction; null when OpenSSL refuses.
SslContextPtr newPairedContext(TlsRole role);
// A connection on `context` that offers (client) or accepts (server) `key`,
// which must outlive it. It has no BIO yet.
SslPtr newPairedSsl(SSL_CTX* context, TlsRole role, const PairingKey& key);

// After SSL_do_handshake succeeded: the PSK was used, with a key exchange.
TlsOutcome checkPairedHandshake(SSL* ssl);
// After SSL_ERROR_SSL: the first error queued, sorted.
TlsOutcome pairedFailureOf(unsigned long errorCode);

} // namespace zapfer
