#pragma once

// The paired link: TLS 1.3 over a TCP connection, keyed by the pairing code
// (an external PSK, identity "zapfer-pairing-1", TLS_AES_128_GCM_SHA256,
// psk_dhe_ke, no certificates). Inside runs the socket link's protocol
// unchanged, so its traits are a stream's.
//
// Encrypted output goes to the socket at once; what the kernel cannot take
// yet waits in this link and leaves with the next call or wait, so sendSome
// either takes bytes or takes none (EAGAIN), as a socket does.
//
// OpenSSL runs the handshake (tls_handshake.h); the records after it are the
// link's own (tls_stream.h). Every record and every system call has a fixed
// cost, so a run of pieces (a window of blocks with their headers) is made
// into full records, and the records of one call leave in one send.

#include "link.h"
#include "pairing_key.h"
#include "tls_handshake.h"
#include "tls_pairing.h"
#include "tls_stream.h"
#include "unique_fd.h"
#include "waker.h"

#include <optional>

namespace zapfer {

inline constexpr int kTlsHandshakeLimitMs = 10'000;

class TlsLink : public Link {
public:
    // `socket` is connected and non-blocking. Nothing moves before handshake().
    TlsLink(UniqueFd socket, TlsRole role, const PairingKey& key, int32_t blockSize,
            LinkContext context);
    ~TlsLink() override;

    // Runs the whole handshake, at most `limitMs`, giving way to an abort.
    // The link carries data only after it succeeded; after a failure it is
    // closed (the abort flag is left alone: there was no transfer yet).
    TlsOutcome handshake(int limitMs = kTlsHandshakeLimitMs);

    // The handshake in steps, for a caller that must keep serving others
    // meanwhile: moves it on as far as the bytes at hand allow. Nothing:
    // it needs the peer (wait for handshakeEvents() on socketFd()).
    // The caller keeps the time limit; failed() closes the link.
    std::optional<TlsOutcome> handshakeStep() { return m_handshake.step(); }
    int socketFd() const { return m_stream.socket().fd(); }
    short handshakeEvents() const { return m_handshake.events(); }
    // Ends a handshake the caller gave up on (time, abort).
    TlsOutcome giveUp(TlsFailure why) { return m_handshake.failed({why, {}}); }

    const LinkTraits& traits() const override { return m_traits; }
    bool sendAll(std::span<const uint8_t> bytes, IoMode mode = IoMode::Normal) override;
    bool receiveExact(uint8_t* buffer, size_t n, int silenceLimitMs = 0,
                      IoMode mode = IoMode::Normal) override;
    ssize_t receiveSome(uint8_t* buffer, size_t max) override;
    ssize_t sendSome(const uint8_t* bytes, size_t n) override;
    ssize_t sendSomeOf(std::span<const iovec> pieces) override;
    bool waitReady(bool forWrite, int timeoutMs) override;
    short waitDirections(bool forWrite, int timeoutMs) override;
    bool hasBuffered() const override;
    void drainInput() override;
    bool alive() const override { return m_stream.socket().open() && m_handshake.usable(); }

private:
    // The connection is gone: the transfer on it is over.
    void fail();
    // The link is up and has room for more: else false with errno set
    // (ENOTCONN, the socket's error after failing the link, or EAGAIN).
    bool readyToSend();

    TlsStream m_stream;
    // After the stream: OpenSSL's connection uses its socket and records.
    TlsHandshake m_handshake;
    LinkTraits m_traits;
    LinkContext m_context;
};

} // namespace zapfer
