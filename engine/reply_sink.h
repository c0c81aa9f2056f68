#pragma once

#include <cstdint>
#include <span>

namespace zapfer {

// Where the receiving side's replies go; a serial driver also purges the line
// and paces.
class ReplySink {
public:
    virtual ~ReplySink() = default;
    virtual void reply(std::span<const uint8_t> bytes) = 0;
    // Throw away whatever input waits in the device (the receiving side drops
    // what it holds itself).
    virtual void discardInput() {}
    // The responder's pacing wait of a serial line.
    virtual void pace(int ms) { (void)ms; }
};

} // namespace zapfer
