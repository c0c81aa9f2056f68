#pragma once

// Reading one command frame from a byte stream, with each link's recovery from
// a stream that is out of step. Written against ByteSource so that the rules
// are tested on plain buffers.

#include <cstddef>
#include <cstdint>

namespace zapfer {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads exactly n bytes; false when they did not all arrive in time.
    virtual bool readExact(uint8_t* buffer, size_t n) = 0;
    // Throws away whatever is waiting to be read (serial receive buffer purge).
    virtual void discardInput() {}
};

// Socket link: reads one frame and, when the stream started 1, 2 or 3 bytes
// into a frame, completes the next frame from the following bytes. A frame
// cut by the misalignment is lost. Returns the command, or 0.
uint8_t ReadSocketCommand(ByteSource& source);

// Serial link: reads one frame; a garbled frame that holds a marker byte
// (0xFF or 0x11) discards the input so that the next frame starts clean.
// Returns the command, or 0.
uint8_t ReadSerialCommand(ByteSource& source);

} // namespace zapfer
