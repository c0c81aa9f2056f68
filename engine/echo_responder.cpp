#include "echo_responder.h"

#include "probe_limiter.h"
#include "protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zapfer {

EchoResponder::EchoResponder(EngineCore& core)
    : m_core(core), m_stopFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void EchoResponder::start() {
    if (m_thread.joinable())
        return;
    uint64_t signalled = 0; // a stop before a restart
    [[maybe_unused]] const ssize_t n = ::read(m_stopFd.get(), &signalled, sizeof signalled);
    // Made here so that its port is known once start returns.
    UniqueFd echo(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (echo) {
        const int on = 1;
        ::setsockopt(echo.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_core.config.echoPort);
        address.sin_addr.s_addr = htonl(m_core.config.listenAddress);
        if (::bind(echo.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            socklen_t length = sizeof address;
            ::getsockname(echo.get(), reinterpret_cast<sockaddr*>(&address), &length);
            m_core.status.echoPort = ntohs(address.sin_port);
        } else {
            echo.reset();
        }
    }
    m_thread = std::thread([this, fd = echo.release()] {
        UniqueFd socket(fd);
        main(socket.get());
    });
}

void EchoResponder::stop() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_stopFd.get(), &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    m_core.status.echoPort = 0;
}

void EchoResponder::main(int socket) {
    const EngineState& state = m_core.state;
    const auto stopped = [this, &state] {
        return m_core.stopRequested || state.LinkState == LinkState::Stopped;
    };
    ProbeLimiter limiter;
    while (!stopped()) {
        const CommType type = state.CommType;
        const bool answering = socket >= 0 && state.LinkState != LinkState::Connecting &&
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
        const bool own = n == 4 && getLe32(datagram) == m_core.endpoint.ownProbe();
        const bool answerable = isProbeSourcePortAnswerable(
            ntohs(source.sin_port), m_core.status.echoPort, m_core.config.probePort);
        // A sender this machine would refuse is not told where it is. A
        // paired sender is taken from any address: the code is the proof.
        const EngineSettings settings = m_core.settings();
        const bool accepted = settings.acceptFrom.admits(ntohl(source.sin_addr.s_addr)) ||
                              !settings.pairingCode.empty();
        if (n == 4 && datagram[0] == 0x66 && !own && answerable && accepted &&
            state.LinkState != LinkState::Connecting &&
            limiter.allow(source.sin_addr.s_addr, ProbeLimiter::Clock::now()))
            ::sendto(socket, datagram, 4, 0, reinterpret_cast<sockaddr*>(&source), length);
    }
    if (socket >= 0)
        ::shutdown(socket, SHUT_RD);
}

} // namespace zapfer
