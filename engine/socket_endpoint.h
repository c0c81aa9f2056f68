#pragma once

// This machine's end of the socket link: the listener that peers connect to,
// and the broadcast socket that looks for a peer on the LAN. Both produce the
// descriptors of new connections; moving bytes is the SocketLink's work.

#include "unique_fd.h"
#include "waker.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace zapfer {

// Ports and addresses of the socket link. The program always uses the
// defaults; tests and zapfer-cli may move them.
struct LinkConfig {
    uint16_t listenPort = 1756;       // 0: an ephemeral port, read back with listenPort()
    uint16_t peerPort = 1756;         // TCP port connected to on the peer
    uint16_t echoPort = 1755;         // UDP port EchoResponder answers on; 0: ephemeral
    uint16_t probePort = 1755;        // UDP port LAN probes are sent to
    uint16_t pairedListenPort = 1757; // paired links; 0: ephemeral, read back with pairedPort()
    uint16_t pairedPeerPort = 1757;   // TCP port a paired send connects to
    uint32_t listenAddress = 0;       // host byte order; 0 = every local address
    // LAN probe targets (host byte order). Empty: 255.255.255.255 and the
    // broadcast address of every IPv4 interface that is up.
    std::vector<uint32_t> probeTargets;
};

int64_t steadyMs();
// The source address of one datagram waiting on `fd`; false when none.
bool receiveAnswer(int fd, uint32_t& address);
// A TCP socket connecting to `address`:`port` without waiting; invalid on
// failure, with errno telling why.
UniqueFd startConnect(uint32_t address, uint16_t port, bool& connectedAlready);
// The outcome of a connect that has become writable; `error` gets its errno.
bool connectSucceeded(int fd, int* error = nullptr);

// How one connection attempt ended, for a send that words each failure.
enum class ConnectResult { Connected, Refused, NoAnswer, Cancelled };

// A connection taken from one of the listeners.
struct AcceptedPeer {
    UniqueFd fd;
    bool paired = false; // came in on the paired port
};

class SocketEndpoint {
public:
    explicit SocketEndpoint(const LinkConfig& config);

    // Opens the broadcast socket and the listeners asked for (the plain
    // port, the paired port); false when a listener cannot be had (this
    // machine can still send).
    bool open(bool plain = true, bool paired = false);
    // Opens or closes each listener to match; the broadcast socket stays.
    bool setListeners(bool plain, bool paired);
    void close();
    bool listening() const { return m_listener.valid() || m_pairedListener.valid(); }
    uint16_t port() const { return m_port; }
    uint16_t pairedPort() const { return m_pairedPort; }
    // Another peer is waiting in a listen queue.
    bool peerWaiting() const;

    // A connection waiting on a listener, after a wait of up to 100 ms.
    AcceptedPeer accept(Waker& waker);
    // LAN: the network-order address of the first peer to answer a probe
    // within 500 ms, or 0. `keepWaiting` ends the wait early when false.
    template <typename KeepWaiting> uint32_t probeForPeer(Waker& waker, KeepWaiting keepWaiting);
    // One connection attempt to `address` (network order), for at most
    // 500 ms; invalid when refused, unanswered or `keepWaiting` turned false.
    template <typename KeepWaiting>
    UniqueFd connectTo(uint32_t address, Waker& waker, KeepWaiting keepWaiting) {
        return connectTo(address, m_config.peerPort, waker, keepWaiting, nullptr);
    }
    // The same to `port`, telling a refusal from silence in `result`.
    template <typename KeepWaiting>
    UniqueFd connectTo(uint32_t address, uint16_t port, Waker& waker, KeepWaiting keepWaiting,
                       ConnectResult* result);

    // The connection `fd` has reached this endpoint's own listener (the
    // address typed is this machine's and the port is ours): a send over it
    // would wait for itself.
    bool reachesOwnListener(int fd) const;

    // The last probe this machine sent, as it reads on the wire, so that its
    // own EchoResponder can leave it unanswered. Any thread.
    uint32_t ownProbe() const { return m_ownProbe; }

private:
    uint32_t sendProbe();
    int64_t msLeft(int64_t deadlineMs) const;

    const LinkConfig& m_config;
    UniqueFd m_listener;
    UniqueFd m_pairedListener;
    UniqueFd m_broadcast;
    uint16_t m_port = 0;
    uint16_t m_pairedPort = 0;
    std::atomic<uint32_t> m_probeNumber;
    std::atomic<uint32_t> m_ownProbe{0};
};

template <typename KeepWaiting>
uint32_t SocketEndpoint::probeForPeer(Waker& waker, KeepWaiting keepWaiting) {
    if (!m_broadcast)
        return 0;
    sendProbe();
    const int64_t deadline = steadyMs() + 500;
    while (keepWaiting()) {
        const int64_t left = msLeft(deadline);
        if (left == 0)
            break;
        if (!waker.waitFor(m_broadcast.get(), POLLIN, int(left)))
            continue;
        uint32_t address = 0;
        if (receiveAnswer(m_broadcast.get(), address))
            return address;
    }
    return 0;
}

template <typename KeepWaiting>
UniqueFd SocketEndpoint::connectTo(uint32_t address, uint16_t port, Waker& waker,
                                   KeepWaiting keepWaiting, ConnectResult* result) {
    bool connected = false;
    UniqueFd fd = startConnect(address, port, connected);
    int error = fd ? 0 : errno;
    const int64_t attemptEnd = steadyMs() + 500;
    while (fd && !connected && keepWaiting() && msLeft(attemptEnd) > 0) {
        if (waker.waitFor(fd.get(), POLLOUT, int(msLeft(attemptEnd)))) {
            // Writable also means refused: the socket's error tells.
            connected = connectSucceeded(fd.get(), &error);
            break;
        }
    }
    if (result)
        *result = connected               ? ConnectResult::Connected
                  : error == ECONNREFUSED ? ConnectResult::Refused
                  : !keepWaiting()        ? ConnectResult::Cancelled
                                          : ConnectResult::NoAnswer;
    if (!connected) {
        // Refused or no answer: wait out the rest of the attempt before the next.
        const int64_t left = msLeft(attemptEnd);
        if (left > 0 && keepWaiting())
            waker.pause(int(std::min<int64_t>(left, 250)));
        return UniqueFd();
    }
    return fd;
}

} // namespace zapfer
