#include "command_reader.h"

#include "protocol.h"

namespace zapfer {

uint8_t ReadSocketCommand(ByteSource& source) {
    uint8_t b[4];
    if (!source.readExact(b, 4))
        return 0;
    if (const uint8_t code = FrameCommand(b))
        return code;

    // Starts 3 bytes into a frame: x | c FF c, the 0x11 still to come.
    if (b[2] == kFrameMarker && b[1] == b[3]) {
        uint8_t last;
        if (!source.readExact(&last, 1))
            return 0;
        const uint8_t completed[4] = {b[1], b[2], b[3], last};
        return FrameCommand(completed);
    }
    // Starts 1 byte into a frame: FF c 11 | c, three bytes still to come.
    if (b[0] == kFrameMarker && b[2] == kFrameEnd) {
        uint8_t rest[3];
        if (!source.readExact(rest, 3))
            return 0;
        const uint8_t completed[4] = {b[3], rest[0], rest[1], rest[2]};
        return FrameCommand(completed);
    }
    // Starts 2 bytes into a frame: c 11 | c FF, two bytes still to come.
    if (b[1] == kFrameEnd && b[3] == kFrameMarker) {
        uint8_t rest[2];
        if (!source.readExact(rest, 2))
            return 0;
        const uint8_t completed[4] = {b[2], b[3], rest[0], rest[1]};
        return FrameCommand(completed);
    }
    return 0;
}

uint8_t ReadSerialCommand(ByteSource& source) {
    uint8_t b[4];
    if (!source.readExact(b, 4))
        return 0;
    if (const uint8_t code = FrameCommand(b))
        return code;
    for (const uint8_t byte : b) {
        if (byte == kFrameMarker || byte == kFrameEnd) {
            source.discardInput();
            break;
        }
    }
    return 0;
}

} // namespace zapfer
