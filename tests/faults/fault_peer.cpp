#include "fault_peer.h"

#include "crc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <thread>

namespace zapfer::test {

EntryBytes unitEntry(const std::vector<uint16_t>& units, int32_t size) {
    EntryBytes entry{};
    for (size_t i = 0; i < units.size() && 2 * i + 1 < kNameFieldBytes; ++i) {
        entry[2 * i] = uint8_t(units[i]);
        entry[2 * i + 1] = uint8_t(units[i] >> 8);
    }
    putLe32(entry.data() + kNameFieldBytes, uint32_t(size));
    return entry;
}

EntryBytes textEntry(const std::string& name, int32_t size) {
    return unitEntry(std::vector<uint16_t>(name.begin(), name.end()), size);
}

Bytes tableMessage(const std::vector<EntryBytes>& entries) {
    Bytes table;
    for (const EntryBytes& entry : entries)
        table.insert(table.end(), entry.begin(), entry.end());
    Bytes message(kTableHeaderSize + table.size());
    BuildFileTableMessage(table, message);
    return message;
}

Bytes openMessage(uint8_t index) {
    const auto open = BuildOpenMessage(index);
    return Bytes(open.begin(), open.end());
}

Bytes blockMessage(int32_t k, const Bytes& data) {
    Bytes message(kBlockHeaderSize + data.size());
    BuildBlockMessage(k, data, message);
    return message;
}

Bytes frameBytes(uint8_t code) {
    const Frame frame = BuildFrame(code);
    return Bytes(frame.begin(), frame.end());
}

FaultPeer::FaultPeer(uint16_t port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        m_fd.reset();
}

void FaultPeer::send(const Bytes& bytes) {
    size_t sent = 0;
    while (m_fd && sent < bytes.size()) {
        const ssize_t n =
            ::send(m_fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
}

void FaultPeer::sendSlowly(const Bytes& bytes, std::chrono::milliseconds gap) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(gap);
        send({bytes[i]});
    }
}

Bytes FaultPeer::read(size_t n, int timeoutMs) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd && out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd fd{m_fd.get(), POLLIN, 0};
        if (left <= 0 || ::poll(&fd, 1, int(left)) <= 0)
            break;
        uint8_t buffer[64];
        const ssize_t got = ::recv(m_fd.get(), buffer, std::min(sizeof buffer, n - out.size()), 0);
        if (got <= 0)
            break;
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

uint8_t FaultPeer::readCommand(int timeoutMs) {
    const Bytes bytes = read(4, timeoutMs);
    return bytes.size() == 4 ? FrameCommand(bytes.data()) : 0;
}

uint8_t FaultPeer::readBlockReply(int32_t* index, int timeoutMs) {
    const Bytes bytes = read(8, timeoutMs);
    if (bytes.size() != 8)
        return 0;
    *index = int32_t(getLe32(bytes.data() + 4));
    return FrameCommand(bytes.data());
}

void FaultPeer::reset() {
    if (!m_fd)
        return;
    const linger abortive{1, 0};
    ::setsockopt(m_fd.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    m_fd.reset();
}

bool FaultPeer::closedByResponder(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{m_fd.get(), POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0)
            continue;
        uint8_t buffer[256];
        if (::recv(m_fd.get(), buffer, sizeof buffer, 0) <= 0)
            return true;
    }
    return false;
}

} // namespace zapfer::test
