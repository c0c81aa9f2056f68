#include "raw_peer.h"

#include "crc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

namespace zapfer::test {

RawPeer::RawPeer(uint16_t port, uint32_t source)
    : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(source);
    if (::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        m_fd.reset();
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        m_fd.reset();
}

void RawPeer::send(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (m_fd && sent < bytes.size()) {
        const ssize_t n =
            ::send(m_fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
}

void RawPeer::sendCommand(uint8_t code) {
    const Frame frame = BuildFrame(code);
    send({frame.begin(), frame.end()});
}

EntryBytes rawEntry(const std::string& name, int32_t size) {
    EntryBytes entry{};
    for (size_t i = 0; i < name.size() && i < 125; ++i)
        entry[2 * i] = uint8_t(name[i]);
    putLe32(entry.data() + 252, uint32_t(size));
    return entry;
}

void RawPeer::sendTable(const std::vector<std::pair<std::string, int32_t>>& entries,
                        uint32_t crcDelta) {
    std::vector<uint8_t> table;
    for (const auto& [name, size] : entries) {
        const EntryBytes entry = rawEntry(name, size);
        table.insert(table.end(), entry.begin(), entry.end());
    }
    std::vector<uint8_t> message(9 + table.size());
    BuildFileTableMessage(table, message);
    putLe32(message.data() + 5, getLe32(message.data() + 5) + crcDelta);
    send(message);
}

void RawPeer::sendOpen(uint8_t index) {
    const auto open = BuildOpenMessage(index);
    send({open.begin(), open.end()});
}

void RawPeer::sendBlock(int32_t k, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> message(12 + data.size());
    BuildBlockMessage(k, data, message);
    send(message);
}

std::vector<uint8_t> RawPeer::read(size_t n, int timeoutMs) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd && out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd fd{m_fd.get(), POLLIN, 0};
        if (::poll(&fd, 1, int(left)) <= 0)
            break;
        uint8_t buffer[4096];
        const ssize_t got = ::recv(m_fd.get(), buffer, std::min(sizeof buffer, n - out.size()), 0);
        if (got <= 0)
            break;
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

uint8_t RawPeer::readCommand(int timeoutMs) {
    const auto bytes = read(4, timeoutMs);
    return bytes.size() == 4 ? FrameCommand(bytes.data()) : 0;
}

bool RawPeer::closedByPeer(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{m_fd.get(), POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0)
            continue;
        uint8_t buffer[256];
        const ssize_t got = ::recv(m_fd.get(), buffer, sizeof buffer, 0);
        if (got <= 0)
            return true;
    }
    return false;
}

} // namespace zapfer::test
