#pragma once

// The paired link's bytes once the handshake is over: data sealed into
// records and handed to the socket, records read in large spans and opened
// into the reader's buffer, the peer's KeyUpdate answered, and the end. A
// batch of records is shared with the link's helper thread, so that on a
// machine with two cores the cipher work of one end runs on both.

#include "record_helper.h"
#include "tls_records.h"
#include "tls_socket.h"
#include "unique_fd.h"

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace zapfer {

// A read ended with the peer's close_notify or the connection's end.
inline constexpr int kTlsEndOfStream = -1;

class TlsStream {
public:
    // `socket` is connected and non-blocking.
    explicit TlsStream(UniqueFd socket);

    TlsSocket& socket() { return m_socket; }
    const TlsSocket& socket() const { return m_socket; }
    TlsRecords& records() { return m_records; }

    // Seals the first `n` bytes of `pieces` and sends the records, as far as
    // the kernel takes them now; false once the link cannot go on.
    bool write(std::span<const iovec> pieces, size_t n,
               RecordType type = RecordType::ApplicationData);

    struct Read {
        size_t given = 0; // bytes put in the reader's buffer
        // With nothing given: how the stream ended (kTlsEndOfStream, or an
        // errno), or 0 when nothing has come yet.
        int end = 0;
    };
    // As a socket's recv does, takes all that has arrived, record by record,
    // up to `max` > 0 bytes. An end after some bytes is kept for the next
    // read.
    Read read(uint8_t* buffer, size_t max);
    // Input that needs no socket: data opened already, a whole record read
    // ahead, or an end still to report.
    bool readableWithoutSocket() const;
    bool hasBuffered() const { return m_records.hasLeftover() || m_socket.inPending() > 0; }
    // Our close_notify, sent as far as the kernel takes it now.
    void close();

private:
    // Our KeyUpdate, when the peer asked for one.
    bool answerKeyUpdate();

    // Declared first: the records use it until they go.
    RecordHelper m_helper;
    TlsSocket m_socket;
    TlsRecords m_records;
    // How a read ended after it had bytes to give, for the next read.
    int m_readEnd = 0;
};

} // namespace zapfer
