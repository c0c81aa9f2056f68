#pragma once

// The paired link's socket as OpenSSL sees it, through a BIO of its own:
// the encrypted bytes OpenSSL writes wait here until the kernel takes them,
// and what the kernel holds is read in large spans, from which OpenSSL takes
// one record at a time. (OpenSSL's own read-ahead moves the rest of its
// buffer to the front for every record, which costs more than the copy here
// once the buffer holds many records.) OpenSSL's own socket BIO writes with
// write(), which raises SIGPIPE on a closed connection; this one sends with
// MSG_NOSIGNAL.

#include "unique_fd.h"

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

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

    // Sends what waits for the kernel, as far as it takes it without
    // waiting; false once the socket failed.
    bool flush();
    // A wait found the socket writable, or the caller cannot tell: the next
    // flush tries again. (After a short send it is not tried until then.)
    void mayWrite() { m_sendBlocked = false; }
    size_t outPending() const { return m_out.size() - m_outStart; }
    size_t inPending() const { return m_inEnd - m_inStart; }
    // Little enough waits for the kernel to take more records.
    bool outRoom() const;

    int error() const { return m_error; }
    bool peerClosed() const { return m_peerClosed; }
    // Bytes the kernel has taken, for telling a stalled peer from a slow one.
    uint64_t bytesOnWire() const { return m_bytesOnWire; }

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
    std::vector<uint8_t> m_out;
    size_t m_outStart = 0;
    std::vector<uint8_t> m_in;
    size_t m_inStart = 0;
    size_t m_inEnd = 0;
    uint64_t m_bytesOnWire = 0;
};

} // namespace zapfer
