#include "socket_endpoint.h"

#include "protocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <sys/socket.h>

namespace zapfer {

namespace {
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

// `address` (network order) belongs to this machine: only then can a socket
// be bound to it.
bool isLocalAddress(uint32_t address) {
    UniqueFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe)
        return false;
    const sockaddr_in local = ipv4Address(address, 0);
    return ::bind(probe.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}
} // namespace

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Probe numbers start at random, so two machines' probes differ.
SocketEndpoint::SocketEndpoint(const LinkConfig& config)
    : m_config(config), m_probeNumber(std::random_device{}()) {}

int64_t SocketEndpoint::msLeft(int64_t deadlineMs) const {
    return std::max<int64_t>(0, deadlineMs - steadyMs());
}

namespace {
// A listener on `port` (0: ephemeral); the port it got, 0 when none.
UniqueFd openListener(uint32_t hostAddress, uint16_t port, uint16_t& got) {
    got = 0;
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener)
        return listener;
    const int on = 1;
    // A restart right after a transfer must not fail on the old connection's TIME_WAIT.
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = ipv4Address(htonl(hostAddress), port);
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 5) != 0)
        return UniqueFd();
    socklen_t length = sizeof address;
    ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
    got = ntohs(address.sin_port);
    return listener;
}
} // namespace

bool SocketEndpoint::open(bool plain, bool paired) {
    close();
    // The broadcast socket comes first: a taken listening port must not
    // keep this machine from finding a peer to send to.
    UniqueFd broadcast(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (broadcast)
        ::setsockopt(broadcast.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    m_broadcast = std::move(broadcast);
    return setListeners(plain, paired);
}

bool SocketEndpoint::setListeners(bool plain, bool paired) {
    bool ok = true;
    if (!plain) {
        m_listener.reset();
        m_port = 0;
    } else if (!m_listener) {
        m_listener = openListener(m_config.listenAddress, m_config.listenPort, m_port);
        ok = m_listener.valid();
    }
    if (!paired) {
        m_pairedListener.reset();
        m_pairedPort = 0;
    } else if (!m_pairedListener) {
        m_pairedListener =
            openListener(m_config.listenAddress, m_config.pairedListenPort, m_pairedPort);
        ok = ok && m_pairedListener.valid();
    }
    return ok;
}

void SocketEndpoint::close() {
    m_listener.reset();
    m_pairedListener.reset();
    m_broadcast.reset();
    m_port = 0;
    m_pairedPort = 0;
}

bool SocketEndpoint::peerWaiting() const {
    pollfd fds[2];
    nfds_t count = 0;
    for (const UniqueFd* listener : {&m_listener, &m_pairedListener})
        if (listener->valid())
            fds[count++] = {listener->get(), POLLIN, 0};
    if (count == 0 || ::poll(fds, count, 0) <= 0)
        return false;
    return std::any_of(fds, fds + count, [](const pollfd& fd) { return fd.revents & POLLIN; });
}

AcceptedPeer SocketEndpoint::accept(Waker& waker) {
    pollfd fds[2];
    size_t count = 0;
    if (m_listener)
        fds[count++] = {m_listener.get(), POLLIN, 0};
    if (m_pairedListener)
        fds[count++] = {m_pairedListener.get(), POLLIN, 0};
    if (count == 0) {
        waker.pause(100);
        return {};
    }
    if (!waker.waitForAny(std::span<pollfd>(fds, count), 100))
        return {};
    for (size_t i = 0; i < count; ++i) {
        if (!(fds[i].revents & POLLIN))
            continue;
        UniqueFd accepted(::accept4(fds[i].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!accepted)
            continue;
        setNoDelay(accepted.get());
        return {std::move(accepted), fds[i].fd == m_pairedListener.get()};
    }
    return {};
}

bool SocketEndpoint::reachesOwnListener(int fd) const {
    if (!listening())
        return false;
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t localLength = sizeof local;
    socklen_t peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        peer.sin_family != AF_INET)
        return false;
    const uint16_t port = ntohs(peer.sin_port);
    if (port == 0 || (port != m_port && port != m_pairedPort))
        return false;
    const uint32_t address = peer.sin_addr.s_addr;
    if (m_config.listenAddress != 0 && address != htonl(m_config.listenAddress))
        return false;
    // Another machine's listener on the same port is a real peer: the far
    // end must be an address of this machine, where our listener holds the port.
    return address == local.sin_addr.s_addr || isLocalAddress(address);
}

uint32_t SocketEndpoint::sendProbe() {
    std::vector<uint32_t> targets;
    if (m_config.probeTargets.empty()) {
        targets = broadcastTargets();
    } else {
        for (const uint32_t host : m_config.probeTargets)
            targets.push_back(htonl(host));
    }
    // The three free bytes carry a number of this probe, so that this
    // machine's own EchoResponder can tell it from a peer's and stay quiet.
    const uint32_t number = m_probeNumber.fetch_add(1) + 1;
    const uint8_t probe[4] = {0x66, uint8_t(number), uint8_t(number >> 8), uint8_t(number >> 16)};
    m_ownProbe = getLe32(probe);
    for (const uint32_t target : targets) {
        const sockaddr_in address = ipv4Address(target, m_config.probePort);
        ::sendto(m_broadcast.get(), probe, sizeof probe, 0,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    return number;
}

bool receiveAnswer(int fd, uint32_t& address) {
    uint8_t answer[16];
    sockaddr_in source{};
    socklen_t length = sizeof source;
    const ssize_t n =
        ::recvfrom(fd, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&source), &length);
    if (n < 0)
        return false;
    address = source.sin_addr.s_addr;
    return true;
}

UniqueFd startConnect(uint32_t address, uint16_t port, bool& connectedAlready) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd)
        return fd;
    setNoDelay(fd.get());
    const sockaddr_in target = ipv4Address(address, port);
    connectedAlready =
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
    if (!connectedAlready && errno != EINPROGRESS)
        return UniqueFd();
    return fd;
}

bool connectSucceeded(int fd, int* error) {
    int status = 0;
    socklen_t length = sizeof status;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &status, &length);
    if (error)
        *error = status;
    return status == 0;
}

} // namespace zapfer
