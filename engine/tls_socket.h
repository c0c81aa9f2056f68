#pragma once

// The paired link's socket: encrypted bytes wait here until the kernel takes
// them, and what the kernel holds is read in large spans. During the
// handshake OpenSSL uses it through a BIO of its own, reading exactly the
// records it needs, so that what follows the handshake stays here for the
// link's own records. (OpenSSL's own socket BIO writes with write(), which
// raises SIGPIPE on a closed connection; this one sends with MSG_NOSIGNAL.)

#include "byte_queue.h"
#include "unique_fd.h"

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace zapfer {

class TlsSocket {
public:
    // `socket` is connected and non-blocking.
    explicit TlsSocket(UniqueFd socket);

    int fd() const { return m_socket.get(); }
    bool open() const { return m_socket.valid(); }
    // The connection is dropped, with whatever waits either way.
    void close();
    // Reads and drops what the kernel holds for this side.
    void discardArrived();

    // Sends what waits for the kernel, as far as it takes it without
    // waiting; false once the socket failed.
    bool flush();
    // A wait found the socket writable, or the caller cannot tell: the next
    // flush tries again. (After a short send it is not tried until then.)
    void mayWrite() { m_sendBlocked = false; }
    size_t outPending() const { return m_out.size(); }
    size_t inPending() const { return m_in.size(); }
    // Little enough waits for the kernel to take more records.
    bool outRoom() const;

    int error() const { return m_error; }
    bool peerClosed() const { return m_peerClosed; }
    // Bytes the kernel has taken, for telling a stalled peer from a slow one.
    uint64_t bytesOnWire() const { return m_bytesOnWire; }

    // Room for `n` more bytes after those waiting, to be written in place
    // and then counted with appended(); null once the socket failed.
    uint8_t* appendSpace(size_t n);
    void appended(size_t n) { m_out.added(n); }

    // The bytes read ahead and not yet used, and their use.
    std::span<const uint8_t> input() const { return m_in.bytes(); }
    void consume(size_t n) { m_in.drop(n); }
    enum class Filled { Some, WouldBlock, Closed, Failed };
    // Reads what the kernel holds after the bytes still unused, as far as
    // the read-ahead has room.
    Filled fill();

private:
    UniqueFd m_socket;
    int m_error = 0;
    bool m_peerClosed = false;
    // The socket took less than it was given: sending again is left until a
    // wait finds it writable, rather than made to fail at once.
    bool m_sendBlocked = false;
    ByteQueue m_out;
    ByteQueue m_in;
    uint64_t m_bytesOnWire = 0;
};

// Gives `ssl` a BIO on `socket`, which must outlive it: OpenSSL's records
// are queued for the kernel, and its input is taken from the span read
// ahead.
bool attachSocketBio(SSL* ssl, TlsSocket& socket);

} // namespace zapfer
