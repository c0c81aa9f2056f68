#pragma once

// A hand-driven peer: a plain TCP connection to a responder, through which a
// test sends exactly the bytes it wants (hostile ones included) and reads the
// replies.

#include "protocol.h"
#include "unique_fd.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zapfer::test {

class RawPeer {
public:
    // Connects to 127.0.0.1:port, from `source` (host order; another
    // loopback address stands for another machine).
    explicit RawPeer(uint16_t port, uint32_t source = 0x7F000001u);
    bool connected() const { return m_fd.valid(); }

    void send(const std::vector<uint8_t>& bytes);
    void sendCommand(uint8_t code);
    // A file table of (wire name, size) entries; the CRC is right unless `crcDelta`.
    void sendTable(const std::vector<std::pair<std::string, int32_t>>& entries,
                   uint32_t crcDelta = 0);
    void sendOpen(uint8_t index);
    void sendBlock(int32_t k, const std::vector<uint8_t>& data);

    // The next command frame, 0 when nothing arrives within `timeoutMs`.
    uint8_t readCommand(int timeoutMs = 3000);
    // Exactly n bytes, or fewer when the time runs out or the peer closes.
    std::vector<uint8_t> read(size_t n, int timeoutMs = 3000);
    // True when the responder closed the connection within `timeoutMs`.
    bool closedByPeer(int timeoutMs = 3000);
    void close() { m_fd.reset(); }

private:
    UniqueFd m_fd;
};

// A 256-byte entry with an arbitrary name (bytes become units) and size.
EntryBytes rawEntry(const std::string& name, int32_t size);

} // namespace zapfer::test
