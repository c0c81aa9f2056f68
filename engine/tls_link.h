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
// Every record costs OpenSSL a fixed amount and every system call the kernel
// another, so a run of pieces (a window of blocks with their headers) is
// joined into full records, and the records of one call leave in one send.
// Input is read from the socket in large spans into this link, from which
// OpenSSL takes one record at a time. (OpenSSL's own read-ahead moves the
// rest of its buffer to the front for every record, which costs more than
// the copy here once the buffer holds many records.)

#include "link.h"
#include "pairing_key.h"
#include "tls_pairing.h"
#include "unique_fd.h"
#include "waker.h"

#include <openssl/ssl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zapfer {

inline constexpr int kTlsHandshakeLimitMs = 10'000;

class TlsLink : public Link {
public:
    // `socket` is connected and non-blocking. Nothing moves before handshake().
    TlsLink(UniqueFd socket, TlsRole role, const PairingKey& key, int32_t blockSize,
            LinkContext context);
    ~TlsLink() override;
    TlsLink(const TlsLink&) = delete;
    TlsLink& operator=(const TlsLink&) = delete;

    // Runs the whole handshake, at most `limitMs`, giving way to an abort.
    // The link carries data only after it succeeded; after a failure it is
    // closed (the abort flag is left alone: there was no transfer yet).
    TlsOutcome handshake(int limitMs = kTlsHandshakeLimitMs);

    // The handshake in steps, for a caller that must keep serving others
    // meanwhile: moves it on as far as the bytes at hand allow. Nothing:
    // it needs the peer (wait for handshakeEvents() on socketFd()).
    // The caller keeps the time limit; failed() closes the link.
    std::optional<TlsOutcome> handshakeStep();
    int socketFd() const { return m_socket.get(); }
    short handshakeEvents() const;
    // Ends a handshake the caller gave up on (time, abort).
    TlsOutcome giveUp(TlsFailure why) { return handshakeFailed({why, {}}); }

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
    bool alive() const override { return m_socket.valid() && m_ssl != nullptr; }

private:
    bool setUp();
    TlsOutcome handshakeFailed(TlsOutcome outcome);
    TlsOutcome failureOf(int sslError);
    // Sends what waits in m_out; false once the socket failed.
    bool flushOut();
    // Moves bytes to the socket without waiting; the count taken.
    size_t sendRaw(const uint8_t* bytes, size_t n);
    size_t outPending() const { return m_out.size() - m_outStart; }
    size_t inPending() const { return m_inEnd - m_inStart; }
    bool outRoom() const;
    // The link is up and has room for more: else false with errno set
    // (ENOTCONN, the socket's error after failing the link, or EAGAIN).
    bool readyToSend();
    // The connection is gone: the transfer on it is over.
    void fail();
    // Encrypts `n` bytes into m_out and hands them to the socket: the bytes
    // taken, or -1 with errno once the link failed (it is closed then).
    ssize_t writeRecords(const uint8_t* bytes, size_t n);
    // Input that needs no socket: decrypted bytes, read-ahead bytes not yet
    // tried, or a failure still to report.
    bool readableWithoutSocket() const;

    static const BIO_METHOD* socketMethod();
    static int bioWrite(BIO* bio, const char* data, size_t size, size_t* written);
    static int bioRead(BIO* bio, char* out, size_t size, size_t* readBytes);
    static long bioControl(BIO* bio, int command, long number, void* pointer);

    UniqueFd m_socket;
    TlsRole m_role;
    PairingKey m_key;
    LinkTraits m_traits;
    LinkContext m_context;
    SslContextPtr m_sslContext;
    SslPtr m_ssl;
    bool m_established = false;
    // The last read wanted more from the socket: read-ahead bytes alone
    // cannot make a record, so waits go to the socket.
    bool m_readBlocked = false;
    // How a read failed after it had bytes to give: the next read reports it.
    int m_readError = SSL_ERROR_NONE;
    bool m_peerClosed = false;
    int m_socketError = 0;
    // The socket took less than it was given: sending again is left until
    // a wait finds it writable, rather than made to fail at once.
    bool m_sendBlocked = false;
    std::vector<uint8_t> m_out;
    size_t m_outStart = 0;
    // Bytes read from the socket that OpenSSL has not taken yet.
    std::vector<uint8_t> m_in;
    size_t m_inStart = 0;
    size_t m_inEnd = 0;
    // Pieces joined for one write; kept to spare an allocation per call.
    std::vector<uint8_t> m_joined;
    uint64_t m_bytesOnWire = 0;
};

} // namespace zapfer
