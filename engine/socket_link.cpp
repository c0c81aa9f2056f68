// The socket link: listener, accepting, connecting (LAN discovery or a typed
// address), and the two primitives that move bytes. Every wait is a poll() on
// the descriptor together with the engine's wake-up descriptor, so data is
// taken the moment it arrives and AbortFlag is seen at once.

#include "command_reader.h"
#include "engine.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>

namespace zapfer {

namespace {
using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

sockaddr_in ipv4Address(uint32_t networkOrderAddress, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = networkOrderAddress;
    return address;
}

void setNoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// 255.255.255.255 and the broadcast address of every IPv4 interface that is up.
std::vector<uint32_t> broadcastTargets() {
    std::vector<uint32_t> targets{htonl(INADDR_BROADCAST)};
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return targets;
    for (const ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_broadaddr)
            continue;
        if (!(ifa->ifa_flags & IFF_UP) || !(ifa->ifa_flags & IFF_BROADCAST))
            continue;
        const uint32_t address =
            reinterpret_cast<const sockaddr_in*>(ifa->ifa_broadaddr)->sin_addr.s_addr;
        if (std::find(targets.begin(), targets.end(), address) == targets.end())
            targets.push_back(address);
    }
    ::freeifaddrs(list);
    return targets;
}

class SocketSource : public ByteSource {
public:
    using Receive = std::function<bool(uint8_t*, size_t)>;
    explicit SocketSource(Receive receive) : m_receive(std::move(receive)) {}
    bool readExact(uint8_t* buffer, size_t n) override { return m_receive(buffer, n); }

private:
    Receive m_receive;
};
} // namespace

bool Engine::OpenListener() {
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener)
        return false;
    const int on = 1;
    // A restart right after a transfer must not fail on the old connection's TIME_WAIT.
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = ipv4Address(htonl(m_config.listenAddress), m_config.listenPort);
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 5) != 0)
        return false;
    socklen_t length = sizeof address;
    ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length);

    UniqueFd broadcast(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (broadcast)
        ::setsockopt(broadcast.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    m_listenSocket = std::move(listener);
    m_broadcastSocket = std::move(broadcast);
    m_listenPort = ntohs(address.sin_port);
    return true;
}

void Engine::acceptPending() {
    if (!m_listenSocket || !waitFor(m_listenSocket.get(), POLLIN, 100)) {
        if (!m_listenSocket)
            pause(100);
        return;
    }
    UniqueFd accepted(
        ::accept4(m_listenSocket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!accepted)
        return;
    setNoDelay(accepted.get());
    // The front end may have started a send since the state was read.
    LinkState expected = LinkState::Listening;
    if (!m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected)) {
        expected = LinkState::Unnamed;
        if (!m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
            return;
    }
    m_dataSocket = std::move(accepted);
    m_readAheadStart = m_readAheadEnd = 0;
    m_tableAccepted = false; // a new connection starts with no table
    m_state.AbortFlag = 0;
}

uint32_t Engine::probeForPeer() {
    if (!m_broadcastSocket)
        return 0;
    const std::vector<uint32_t> targets =
        m_config.probeTargets.empty() ? broadcastTargets() : [this] {
            std::vector<uint32_t> network;
            for (const uint32_t host : m_config.probeTargets)
                network.push_back(htonl(host));
            return network;
        }();
    // The three free bytes carry a number of this probe, so that this
    // machine's own EchoResponder can tell it from a peer's and stay quiet.
    const uint32_t nonce = m_probeNonce.fetch_add(1) + 1;
    const uint8_t probe[4] = {0x66, uint8_t(nonce), uint8_t(nonce >> 8), uint8_t(nonce >> 16)};
    m_ownProbe = getLe32(probe);
    for (const uint32_t target : targets) {
        const sockaddr_in address = ipv4Address(target, m_config.probePort);
        ::sendto(m_broadcastSocket.get(), probe, sizeof probe, 0,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (!m_state.AbortFlag && m_state.ReceiveEnabled == 0) {
        const int left = millisecondsLeft(deadline);
        if (left == 0)
            break;
        if (!waitFor(m_broadcastSocket.get(), POLLIN, left))
            continue;
        uint8_t answer[16];
        sockaddr_in source{};
        socklen_t length = sizeof source;
        const ssize_t n = ::recvfrom(m_broadcastSocket.get(), answer, sizeof answer, 0,
                                     reinterpret_cast<sockaddr*>(&source), &length);
        if (n >= 0) {
            m_state.ProbeAddress = source.sin_addr.s_addr;
            return source.sin_addr.s_addr;
        }
    }
    m_state.ProbeAddress = 0;
    return 0;
}

void Engine::SocketConnect() {
    if (m_state.AbortFlag)
        return;
    const CommType type = m_state.CommType;
    if (type == CommType::Irda) {
        m_events.linkMessage("Infrared sockets are not available on this system.",
                             std::string(commTypeName(type)));
        setAbort();
        return;
    }
    const uint32_t peerIp = settings().peerIp;
    while (!m_state.AbortFlag && m_state.ReceiveEnabled == 0 &&
           m_state.LinkState == LinkState::Connecting) {
        const uint32_t target = type == CommType::Lan ? probeForPeer() : htonl(peerIp);
        if (target == 0) {
            // Nobody answered (or no address is set). Connecting to 0.0.0.0
            // would reach this machine's own listener, so probe again instead.
            if (type != CommType::Lan)
                pause(500);
            continue;
        }
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd) {
            setAbort();
            return;
        }
        setNoDelay(fd.get());
        const sockaddr_in address = ipv4Address(target, m_config.peerPort);
        const auto attemptEnd = Clock::now() + std::chrono::milliseconds(500);
        bool connected =
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (!connected && errno == EINPROGRESS) {
            while (!m_state.AbortFlag && millisecondsLeft(attemptEnd) > 0) {
                if (waitFor(fd.get(), POLLOUT, millisecondsLeft(attemptEnd))) {
                    // Writable also means refused: the socket's error tells.
                    int error = 0;
                    socklen_t length = sizeof error;
                    ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length);
                    connected = error == 0;
                    break;
                }
            }
        }
        if (connected) {
            LinkState expected = LinkState::Connecting;
            if (m_state.AbortFlag ||
                !m_state.LinkState.compare_exchange_strong(expected, LinkState::Connected))
                return; // cancelled meanwhile; the connection is dropped
            m_dataSocket = std::move(fd);
            m_readAheadStart = m_readAheadEnd = 0;
            m_events.playSound(Sound::LinkUp);
            return;
        }
        // Refused or no answer: wait out the rest of the attempt before the next.
        const int left = millisecondsLeft(attemptEnd);
        if (left > 0 && !m_state.AbortFlag)
            pause(std::min(left, 250));
    }
}

bool Engine::SendAll(const void* data, size_t length, IoMode mode) {
    if (!m_dataSocket) {
        m_state.AbortFlag = 1; // the connection is gone
        return false;
    }
    if (mode == IoMode::Normal && m_state.AbortFlag)
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t sent = 0;
    // While aborting, the last words to the peer must not hang the engine.
    const auto abortDeadline = Clock::now() + std::chrono::seconds(1);
    while (sent < length) {
        const ssize_t n =
            ::send(m_dataSocket.get(), bytes + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (mode == IoMode::Normal && m_state.AbortFlag)
                return false;
            if (mode == IoMode::EvenWhenAborting && millisecondsLeft(abortDeadline) == 0)
                return false;
            waitFor(m_dataSocket.get(), POLLOUT, 100);
            continue;
        }
        dropDataSocket();
        m_state.AbortFlag = 1;
        return false;
    }
    return true;
}

bool Engine::RecvAll(void* buffer, size_t length, int silenceLimitMs, IoMode mode) {
    if (!m_dataSocket) {
        m_state.AbortFlag = 1;
        return false;
    }
    if (mode == IoMode::Normal && m_state.AbortFlag)
        return false;
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t received = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(silenceLimitMs);
    while (received < length) {
        if (mode == IoMode::Normal && m_state.AbortFlag)
            return false;
        const ssize_t n = receiveSome(bytes + received, length - received);
        if (n > 0) {
            received += size_t(n);
            deadline = Clock::now() + std::chrono::milliseconds(silenceLimitMs);
            continue;
        }
        if (n == 0) { // the peer closed the connection
            dropDataSocket();
            m_state.AbortFlag = 1;
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            dropDataSocket();
            m_state.AbortFlag = 1;
            return false;
        }
        const int left = millisecondsLeft(deadline);
        if (left == 0)
            return false; // silence: the caller treats it as a missing reply
        waitFor(m_dataSocket.get(), POLLIN, std::min(left, 100));
    }
    return true;
}

bool Engine::SendCommand(uint8_t code, IoMode mode) {
    const Frame frame = BuildFrame(code);
    return SendAll(frame.data(), frame.size(), mode);
}

uint8_t Engine::ReceiveCommand(int silenceLimitMs, IoMode mode) {
    SocketSource source(
        [&](uint8_t* buffer, size_t n) { return RecvAll(buffer, n, silenceLimitMs, mode); });
    return ReadSocketCommand(source);
}

ssize_t Engine::receiveSome(uint8_t* out, size_t max) {
    if (m_readAheadStart == m_readAheadEnd) {
        m_readAheadStart = m_readAheadEnd = 0;
        // Block data goes straight to its buffer: no copy through the read-ahead.
        if (max >= 16 * 1024)
            return ::recv(m_dataSocket.get(), out, max, MSG_DONTWAIT);
        const ssize_t n =
            ::recv(m_dataSocket.get(), m_readAhead.data(), m_readAhead.size(), MSG_DONTWAIT);
        if (n <= 0)
            return n;
        m_readAheadEnd = size_t(n);
    }
    const size_t take = std::min(max, m_readAheadEnd - m_readAheadStart);
    std::memcpy(out, m_readAhead.data() + m_readAheadStart, take);
    m_readAheadStart += take;
    return ssize_t(take);
}

void Engine::dropDataSocket() {
    m_readAheadStart = m_readAheadEnd = 0;
    m_dataSocket.reset();
}

} // namespace zapfer
