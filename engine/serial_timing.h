#pragma once

// The waits of the serial link. The initiator sends, waits, then reads one
// reply; these pauses give slow serial and infrared hardware time to turn the
// line around, so they stay even where a reply could be read sooner.

#include "comm_type.h"

#include <cstddef>

namespace zapfer {

// Read time-outs of a serial port: a read ends 100 ms after the last byte, and
// in any case 1000 + n ms after it began.
inline constexpr int kSerialReadGapMs = 100;
inline constexpr int kSerialReadBaseMs = 1000;
constexpr long long serialReadTotalMs(size_t n) {
    return kSerialReadBaseMs + static_cast<long long>(n);
}

// A write that makes no progress for this long is given up: a dead device or a
// line held by flow control must not stall the transfer thread for ever.
inline constexpr int kSerialWriteStallMs = 5000;

// What a read does when no port is open, so that a caller's loop still paces.
inline constexpr int kClosedPortReadMs = 20;

// After a file table, an open, CMD_PING, CMD_CONNECT, CMD_NAME_REQUEST and
// CMD_KEEPALIVE.
inline constexpr int kSerialCommandWaitMs = 20;
// After CMD_CLOSE_FILE, and after each CMD_ABORT of the initiator's end sequence.
inline constexpr int kSerialCloseWaitMs = 20;
inline constexpr int kSerialAbortWaitMs = 20;

// After a block, before its reply is read: USB 5 ms, otherwise the time the
// line needs for the block (block size / 100 ms: COM1, COM2 40, RAW IR 20).
constexpr int blockPacingMs(CommType type) {
    switch (type) {
    case CommType::Usb:
        return 5;
    case CommType::Com1:
    case CommType::Com2:
        return 40;
    case CommType::RawIr:
        return 20;
    default:
        return 0; // not a serial type
    }
}

// A serial block's index has no CRC: a corrupted index can leave the peer
// waiting for another block than the one sent, refusing it for ever. A block
// still not acknowledged after this many sendings ends the send.
inline constexpr int kSerialBlockAttempts = 10;

// The RAW IR responder pauses between a block's index and its CRC (block size
// / 20 ms); the other types read straight on.
constexpr int responderCrcWaitMs(CommType type) {
    return type == CommType::RawIr ? 102 : 0;
}

} // namespace zapfer
