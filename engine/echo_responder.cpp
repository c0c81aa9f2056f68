// EchoResponder: answers the 4-byte UDP probes with which a LAN sender looks
// for a peer, while a LAN or WAN type is selected and no send is connecting.

#include "engine.h"
#include "probe_limiter.h"

#include "protocol.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace zapfer {

void Engine::echoResponderMain(int socket) {
    const auto stopped = [this] {
        return m_stopRequested || m_state.LinkState == LinkState::Stopped;
    };
    ProbeLimiter limiter;
    while (!stopped()) {
        const CommType type = m_state.CommType;
        const bool answering = socket >= 0 && m_state.LinkState != LinkState::Connecting &&
                               (type == CommType::Lan || type == CommType::Wan);
        pollfd fds[2] = {{m_stopFd.get(), POLLIN, 0}, {socket, POLLIN, 0}};
        const int ready = ::poll(fds, answering ? 2 : 1, answering ? 250 : 50);
        if (ready <= 0 || !answering || !(fds[1].revents & POLLIN))
            continue;
        uint8_t datagram[16];
        sockaddr_in source{};
        socklen_t length = sizeof source;
        const ssize_t n = ::recvfrom(socket, datagram, sizeof datagram, 0,
                                     reinterpret_cast<sockaddr*>(&source), &length);
        if (n < 0)
            continue;
        // This machine's own probe (a broadcast comes back to its sender) is
        // not answered: the sender would connect to itself.
        const bool own = n == 4 && getLe32(datagram) == m_endpoint.ownProbe();
        const bool answerable = isProbeSourcePortAnswerable(ntohs(source.sin_port),
                                                            m_status.echoPort, m_config.probePort);
        // A sender this machine would refuse is not told where it is.
        const bool accepted = settings().acceptFrom.admits(ntohl(source.sin_addr.s_addr));
        if (n == 4 && datagram[0] == 0x66 && !own && answerable && accepted &&
            m_state.LinkState != LinkState::Connecting &&
            limiter.allow(source.sin_addr.s_addr, ProbeLimiter::Clock::now()))
            ::sendto(socket, datagram, 4, 0, reinterpret_cast<sockaddr*>(&source), length);
    }
    if (socket >= 0)
        ::shutdown(socket, SHUT_RD);
}

} // namespace zapfer
