#pragma once

// A TCP connection to the peer: a reliable stream. Reads go through a
// read-ahead buffer so that a command costs one system call, and block data
// is received straight into its buffer.

#include "link.h"
#include "unique_fd.h"
#include "waker.h"

#include <vector>

namespace zapfer {

class SocketLink : public Link {
public:
    SocketLink(UniqueFd socket, int32_t blockSize, LinkContext context);

    const LinkTraits& traits() const override { return m_traits; }
    bool sendAll(std::span<const uint8_t> bytes, IoMode mode = IoMode::Normal) override;
    bool receiveExact(uint8_t* buffer, size_t n, int silenceLimitMs = 0,
                      IoMode mode = IoMode::Normal) override;
    ssize_t receiveSome(uint8_t* buffer, size_t max) override;
    ssize_t sendSome(const uint8_t* bytes, size_t n) override;
    ssize_t sendSomeOf(std::span<const iovec> pieces) override;
    bool waitReady(bool forWrite, int timeoutMs) override;
    short waitDirections(bool forWrite, int timeoutMs) override;
    bool hasBuffered() const override { return m_start != m_end; }
    void drainInput() override;
    bool alive() const override { return m_socket.valid(); }

    int fd() const { return m_socket.get(); }

private:
    // The connection is gone: the transfer on it is over.
    void fail();

    UniqueFd m_socket;
    LinkTraits m_traits;
    LinkContext m_context;
    std::vector<uint8_t> m_readAhead = std::vector<uint8_t>(256 * 1024);
    size_t m_start = 0;
    size_t m_end = 0;
};

} // namespace zapfer
