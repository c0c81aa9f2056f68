#pragma once

// A connected byte stream to the peer. The sender and the receive session's
// drivers use only this interface; which kind of link carries the bytes is
// decided where links are made (listening, dialling, opening a serial port).
//
// Thread contract: a Link is used by TransferThread alone. Other threads
// interrupt its waits through the engine's wake descriptor, never by closing it.

#include "protocol.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <sys/types.h>
#include <sys/uio.h>

namespace zapfer {

struct LinkTraits {
    Dialect dialect = Dialect::Stream;
    int32_t blockSize = 32768;
    // Silence after which a read of a message gives up: the whole limit on a
    // stream, the gap after the last byte on a serial line.
    int silenceLimitMs = 2000;
    // Pacing waits of a serial line: after a command, after a close, after an
    // abort, after a block, and the responder's wait before a block's CRC.
    int commandWaitMs = 0;
    int closeWaitMs = 0;
    int abortWaitMs = 0;
    int blockPacingMs = 0;
    int crcWaitMs = 0;
};

enum class IoMode {
    Normal,           // gives up as soon as the transfer is aborted
    EvenWhenAborting, // the last words to a peer while aborting; bounded in time
};

class Link {
public:
    virtual ~Link() = default;

    virtual const LinkTraits& traits() const = 0;

    // Writes all bytes; false when the link failed, or (Normal) the transfer
    // was aborted first.
    virtual bool sendAll(std::span<const uint8_t> bytes, IoMode mode = IoMode::Normal) = 0;
    // Reads exactly n bytes; false on silence past `silenceLimitMs` (0: the
    // link's own limit), on failure, or (Normal) on abort.
    virtual bool receiveExact(uint8_t* buffer, size_t n, int silenceLimitMs = 0,
                              IoMode mode = IoMode::Normal) = 0;

    // Non-blocking pieces for the block pump and the receive drivers:
    // > 0 bytes moved, 0 when the peer closed (receive only), -1 with errno
    // (EAGAIN: nothing to do now). Bytes a send took may wait in the link
    // (an encrypted one) until its next call or wait; sendAll of nothing
    // hands all of them to the kernel.
    virtual ssize_t receiveSome(uint8_t* buffer, size_t max) = 0;
    virtual ssize_t sendSome(const uint8_t* bytes, size_t n) = 0;
    // As sendSome, over several pieces in order: the bytes moved, counted
    // from the start of the first piece. A link that has no gathered write
    // moves what it can of the first non-empty piece.
    virtual ssize_t sendSomeOf(std::span<const iovec> pieces);
    // Waits until the link is readable (or writable, when asked), at most
    // `timeoutMs`, or until the engine is woken; true when the link is ready.
    virtual bool waitReady(bool forWrite, int timeoutMs) = 0;
    // As waitReady, telling which way the link is ready: POLLIN, POLLOUT
    // (asked with forWrite) or both; 0 on time-out or a wake-up. A link that
    // cannot tell reports both once it is ready at all.
    virtual short waitDirections(bool forWrite, int timeoutMs);
    // Bytes already read ahead and not yet taken.
    virtual bool hasBuffered() const = 0;

    // Throws away whatever input is waiting (a serial line's purge).
    virtual void drainInput() = 0;
    // False once the peer closed the link or the device went away.
    virtual bool alive() const = 0;
};

// One command frame from the link, with the dialect's recovery from a stream
// that is out of step; 0 when none arrived.
uint8_t receiveCommand(Link& link, int silenceLimitMs = 0, IoMode mode = IoMode::Normal);
// One command frame to the link.
bool sendCommand(Link& link, uint8_t code, IoMode mode = IoMode::Normal);

} // namespace zapfer
