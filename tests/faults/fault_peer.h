#pragma once

// A misbehaving peer for the fault-injection tests: a TCP connection to a
// responder that can send any bytes, trickle them, stop, vanish or reset.

#include "protocol.h"
#include "unique_fd.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zapfer::test {

using Bytes = std::vector<uint8_t>;

// One 256-byte entry whose name is given as 16-bit units (any value).
EntryBytes unitEntry(const std::vector<uint16_t>& units, int32_t size);
EntryBytes textEntry(const std::string& name, int32_t size);
Bytes tableMessage(const std::vector<EntryBytes>& entries);
Bytes openMessage(uint8_t index);
Bytes blockMessage(int32_t k, const Bytes& data);
Bytes frameBytes(uint8_t code);

class FaultPeer {
public:
    explicit FaultPeer(uint16_t port); // blocking connect to 127.0.0.1:port
    bool connected() const { return m_fd.valid(); }

    void send(const Bytes& bytes);
    // One byte at a time, `gap` apart.
    void sendSlowly(const Bytes& bytes, std::chrono::milliseconds gap);
    // The next 4-byte reply as a command, 0 when none came in `timeoutMs`.
    uint8_t readCommand(int timeoutMs = 5000);
    // A block reply: its command, with its index in `index`.
    uint8_t readBlockReply(int32_t* index, int timeoutMs = 5000);
    // An orderly close (FIN).
    void close() { m_fd.reset(); }
    // An abortive close: SO_LINGER 0, so the responder sees a reset.
    void reset();
    // True when the responder closed the connection within `timeoutMs`.
    bool closedByResponder(int timeoutMs = 5000);

private:
    Bytes read(size_t n, int timeoutMs);
    UniqueFd m_fd;
};

} // namespace zapfer::test
