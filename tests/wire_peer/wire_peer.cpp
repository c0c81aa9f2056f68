#include "wire_peer.h"

#include "loopback_socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace zapfer::test {

namespace {
using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}
} // namespace

std::string wireLinkName(const ::testing::TestParamInfo<WireLink>& info) {
    return info.param == WireLink::Socket ? "Socket" : "Serial";
}

void PrintTo(WireLink link, std::ostream* out) {
    *out << (link == WireLink::Socket ? "Socket" : "Serial");
}

WirePeer WirePeer::tcp(uint16_t port, uint32_t source) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(source);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
        fd.reset();
    const sockaddr_in address = loopbackAddress(port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fd.reset();
    const int raw = fd.get();
    return WirePeer(std::move(fd), raw, true);
}

WirePeer WirePeer::pty(int masterFd) {
    return WirePeer(UniqueFd(), masterFd, false);
}

void WirePeer::send(const Bytes& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (m_fd >= 0 && done < bytes.size() && Clock::now() < deadline) {
        // MSG_NOSIGNAL: a responder that has gone must not kill the test with SIGPIPE.
        const ssize_t n = m_socket
                              ? ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                              : ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    if (!m_socket) {
        ASSERT_EQ(done, bytes.size());
    }
}

void WirePeer::sendSlowly(const Bytes& bytes, std::chrono::milliseconds gap) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(gap);
        send({bytes[i]});
    }
}

Bytes WirePeer::read(size_t n, int timeoutMs) {
    Bytes out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd >= 0 && out.size() < n) {
        const int left = msLeft(deadline);
        if (left == 0)
            break;
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        uint8_t buffer[4096];
        const ssize_t got = ::read(m_fd, buffer, std::min(sizeof buffer, n - out.size()));
        if (got > 0)
            out.insert(out.end(), buffer, buffer + got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break; // the far end closed, or a pty hung up
    }
    return out;
}

uint8_t WirePeer::readCommand(int timeoutMs) {
    const Bytes bytes = read(kFrameSize, timeoutMs);
    return bytes.size() == kFrameSize ? FrameCommand(bytes.data()) : 0;
}

uint8_t WirePeer::readBlockReply(int32_t* index, int timeoutMs) {
    const Bytes bytes = read(kFrameSize + 4, timeoutMs);
    if (bytes.size() != kFrameSize + 4)
        return 0;
    *index = int32_t(getLe32(bytes.data() + kFrameSize));
    return FrameCommand(bytes.data());
}

bool WirePeer::closedByPeer(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_fd >= 0 && Clock::now() < deadline) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, std::min(50, msLeft(deadline))) <= 0)
            continue;
        uint8_t buffer[256];
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
    return false;
}

void WirePeer::close() {
    m_owned.reset();
    m_fd = -1;
}

void WirePeer::reset() {
    if (m_socket && m_fd >= 0) {
        const linger abortive{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    close();
}

bool WirePeer::abortUntilAcknowledged(int tries) {
    for (int i = 0; i < tries; ++i) {
        sendCommand(CMD_ABORT);
        if (readCommand(1500) == CMD_ACCEPTED)
            return true;
    }
    return false;
}

Bytes WirePeer::answerDial(const std::string& ownName) {
    EXPECT_EQ(readCommand(), CMD_PING);
    sendCommand(CMD_PING_REPLY);
    EXPECT_EQ(readCommand(), CMD_CONNECT);
    sendCommand(CMD_ACCEPTED);
    EXPECT_EQ(readCommand(), CMD_NAME_REQUEST);
    send(nameBlock(ownName));
    EXPECT_EQ(readCommand(), CMD_NAME_FOLLOWS);
    return read(kNameBlockSize);
}

Bytes WirePeer::dial(const std::string& ownName) {
    sendCommand(CMD_PING);
    EXPECT_EQ(readCommand(), CMD_PING_REPLY);
    sendCommand(CMD_CONNECT);
    EXPECT_EQ(readCommand(), CMD_ACCEPTED);
    sendCommand(CMD_NAME_REQUEST);
    Bytes name = read(kNameBlockSize);
    sendCommand(CMD_NAME_FOLLOWS);
    send(nameBlock(ownName));
    return name;
}

} // namespace zapfer::test
