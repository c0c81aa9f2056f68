#pragma once

// The paired link's handshake, run by OpenSSL over the link's own socket:
// the construction's connection (tls_pairing.h), moved on in steps, its
// failures sorted into what a person can be told. Once it completed the
// traffic secrets are with the records, and OpenSSL moves no more bytes.

#include "pairing_key.h"
#include "tls_pairing.h"
#include "tls_records.h"
#include "tls_socket.h"

#include <optional>

namespace zapfer {

class TlsHandshake {
public:
    // `socket` and `records` must outlive this.
    TlsHandshake(TlsRole role, const PairingKey& key, TlsSocket& socket, TlsRecords& records);

    // OpenSSL could be set up.
    bool usable() const { return m_ssl != nullptr; }
    bool established() const { return m_established; }
    // Moves the handshake on as far as the bytes at hand allow; nothing
    // while it needs the peer. The socket is closed on a failure.
    std::optional<TlsOutcome> step();
    // What to wait for on the socket before the next step.
    short events() const;
    // Ends the handshake with `outcome`, closing the socket.
    TlsOutcome failed(TlsOutcome outcome);

private:
    TlsSocket& m_socket;
    TlsRecords& m_records;
    // OpenSSL's callbacks read it for as long as m_ssl lives.
    PairingKey m_key;
    SslPtr m_ssl;
    bool m_established = false;
};

} // namespace zapfer
