#include "tls_pairing.h"

#include <openssl/err.h>

#include <string_view>

namespace zapfer {

namespace {
// TLS_AES_128_GCM_SHA256: the one suite of the construction.
constexpr unsigned char kCipherId[] = {0x13, 0x01};

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

int useSession(SSL* ssl, const EVP_MD* digest, const unsigned char** identity,
               size_t* identityLength, SSL_SESSION** session) {
    const auto* key = static_cast<const PairingKey*>(SSL_get_app_data(ssl));
    SSL_SESSION* psk = pskSession(ssl, *key);
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

int findSession(SSL* ssl, const unsigned char* identity, size_t identityLength,
                SSL_SESSION** session) {
    const auto* key = static_cast<const PairingKey*>(SSL_get_app_data(ssl));
    *session = nullptr;
    // Another identity gets no key, and without a certificate the handshake fails.
    if (std::string_view(reinterpret_cast<const char*>(identity), identityLength) != kPairingLabel)
        return 1;
    *session = pskSession(ssl, *key);
    return *session != nullptr ? 1 : 0;
}
} // namespace

SslContextPtr newPairedContext(TlsRole role) {
    const bool client = role == TlsRole::Client;
    SslContextPtr made(SSL_CTX_new(client ? TLS_client_method() : TLS_server_method()));
    SSL_CTX* context = made.get();
    if (context == nullptr || SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_ciphersuites(context, "TLS_AES_128_GCM_SHA256") != 1)
        return nullptr;
    // Every connection is keyed afresh: no tickets, no resumption.
    SSL_CTX_set_num_tickets(context, 0);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    // A server that answers without the PSK would have to show a
    // certificate; the client refuses every one. (A server asking for one
    // would need a session id context, and never asks: it has no other way in.)
    if (client)
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, refuseCertificate);
    return made;
}

SslPtr newPairedSsl(SSL_CTX* context, TlsRole role, const PairingKey& key) {
    SslPtr ssl(SSL_new(context));
    if (!ssl)
        return ssl;
    // The callbacks find the key here.
    SSL_set_app_data(ssl.get(), const_cast<PairingKey*>(&key));
    if (role == TlsRole::Client) {
        SSL_set_psk_use_session_callback(ssl.get(), useSession);
        SSL_set_connect_state(ssl.get());
    } else {
        SSL_set_psk_find_session_callback(ssl.get(), findSession);
        SSL_set_accept_state(ssl.get());
    }
    return ssl;
}

TlsOutcome checkPairedHandshake(SSL* ssl) {
    // The PSK must have been used, with a key exchange on top of it
    // (psk_dhe_ke) so that a code learnt later opens no recording.
    if (SSL_session_reused(ssl) != 1)
        return {TlsFailure::Refused, "the pairing key was not used"};
    if (SSL_get_negotiated_group(ssl) <= 0)
        return {TlsFailure::Refused, "no key exchange"};
    return {};
}

TlsOutcome pairedFailureOf(unsigned long code) {
    if (code == 0)
        return {TlsFailure::Refused, "TLS error"};
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

} // namespace zapfer
