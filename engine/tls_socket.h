#pragma once

// The paired link's socket: encrypted bytes wait here until the kernel takes
// them, and what the kernel holds is read in large spans. During the
// handshake OpenSSL uses it through a BIO of its own, reading exactly the
// records it needs, so that what follows the handshake stays here for the
// link's own records. (OpenSSL's own socket BIO writes with write(), which
// raises SIGPIPE on a closed connection; this one sends with MSG_NOSIGNAL.)

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
    TlsSocket(const TlsSocket&) = delete;
    TlsSocket& operator=(const TlsSocket&) = delete;

    // Gives `ssl` a BIO on this socket, which must outlive it.
    bool attachTo(SSL* ssl);

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
    size_t outPending() const { return m_outEnd - m_outStart; }
    size_t inPending() const { return m_inEnd - m_inStart; }
    // Little enough waits for the kernel to take more records.
    bool outRoom() const;

    int error() const { return m_error; }
    bool peerClosed() const { return m_peerClosed; }
    // Bytes the kernel has taken, for telling a stalled peer from a slow one.
    uint64_t bytesOnWire() const { return m_bytesOnWire; }

    // Room for `n` more bytes after those waiting, to be written in place
    // and then counted with appended(); null once the socket failed.
    uint8_t* appendSpace(size_t n);
    void appended(size_t n) { m_outEnd += n; }

    // The bytes read ahead and not yet used, and their use.
    std::span<const uint8_t> input() const { return {m_in.get() + m_inStart, m_inEnd - m_inStart}; }
    void consume(size_t n);
    enum class Filled { Some, WouldBlock, Closed, Failed };
    // Reads what the kernel holds after the bytes still unused, as far as
    // the read-ahead has room.
    Filled fill();

    // The BIO's two ways: OpenSSL's records queued for the kernel, and input
    // given from the span read ahead. `read` returns the count, 0 when there
    // is nothing now (`wouldBlock`), or the connection ended or failed.
    bool queue(const uint8_t* bytes, size_t n);
    size_t read(uint8_t* out, size_t size, bool& wouldBlock);

private:
    // Moves bytes to the socket without waiting; the count taken.
    size_t sendRaw(const uint8_t* bytes, size_t n);

    UniqueFd m_socket;
    int m_error = 0;
    bool m_peerClosed = false;
    // The socket took less than it was given: sending again is left until a
    // wait finds it writable, rather than made to fail at once.
    bool m_sendBlocked = false;
    // Written in place, so not a vector: nothing is zeroed, and the buffer
    // stays mapped for the life of the link.
    std::unique_ptr<uint8_t[]> m_out;
    size_t m_outCapacity = 0;
    size_t m_outStart = 0;
    size_t m_outEnd = 0;
    std::unique_ptr<uint8_t[]> m_in;
    size_t m_inStart = 0;
    size_t m_inEnd = 0;
    uint64_t m_bytesOnWire = 0;
};

} // namespace zapfer
