// LAN discovery on one machine: an engine never answers its own probe (a
// broadcast comes back to the machine that sent it), but answers a peer's.

#include "engine_harness.h"
#include "loopback_socket.h"

#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <array>
#include <optional>

using namespace zapfer;
using namespace zapfer::test;

namespace {
class UdpSocket {
public:
    UdpSocket() : m_bound(bindLoopback(SOCK_DGRAM)) {}
    uint16_t port() const { return m_bound.port; }
    void sendTo(uint16_t port, const std::array<uint8_t, 4>& bytes) {
        const sockaddr_in address = loopbackAddress(port);
        ::sendto(m_bound.fd.get(), bytes.data(), bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    std::optional<std::array<uint8_t, 4>> receive(int timeoutMs) {
        pollfd fd{m_bound.fd.get(), POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) <= 0)
            return std::nullopt;
        std::array<uint8_t, 4> bytes{};
        if (::recv(m_bound.fd.get(), bytes.data(), bytes.size(), 0) != 4)
            return std::nullopt;
        return bytes;
    }

private:
    LoopbackSocket m_bound;
};
} // namespace

TEST(LanProbe, AnEngineIgnoresItsOwnProbeButAnswersOthers) {
    UdpSocket peer;
    LinkConfig config;
    config.listenPort = 0;
    config.echoPort = 0;
    config.listenAddress = loopback();
    config.probePort = peer.port(); // this test sees the engine's probes
    config.probeTargets = {loopback()};
    RecordingEvents events;
    Engine engine(events, config);
    engine.selectCommType(CommType::Lan, true);
    engine.start();

    TempDir source;
    writeFile(source / "a", {1});
    ASSERT_NE(engine.send({{(source / "a").string(), 1}}), kNoTransfer);
    const auto probe = peer.receive(3000);
    ASSERT_TRUE(probe) << "the engine probes while connecting";
    EXPECT_EQ((*probe)[0], 0x66);
    engine.cancel();
    ASSERT_TRUE(events.waitUntil([&] { return events.connectingClosed > 0; }));
    engine.finishSend();

    // Its own probe coming back is not echoed; another one is. That one comes
    // from an ephemeral port, as a sender's does: nothing from the probe port
    // is ever answered.
    UdpSocket sender;
    sender.sendTo(engine.echoPort(), *probe);
    EXPECT_FALSE(sender.receive(600)) << "the engine answered its own probe";
    auto other = *probe;
    other[1] ^= 0x5A;
    sender.sendTo(engine.echoPort(), other);
    const auto echo = sender.receive(3000);
    ASSERT_TRUE(echo);
    EXPECT_EQ(*echo, other);
    engine.stop();
}

// Another program holding the listening port takes away receiving, not
// sending: the engine still looks for a peer on the LAN.
TEST(LanProbe, AnEngineWhosePortIsTakenStillProbesForAPeer) {
    UniqueFd holder(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(holder.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder.get(), 1), 0);
    ASSERT_EQ(::getsockname(holder.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);

    UdpSocket peer;
    LinkConfig config;
    config.listenPort = ntohs(address.sin_port);
    config.echoPort = 0;
    config.listenAddress = loopback();
    config.probePort = peer.port();
    config.probeTargets = {loopback()};
    RecordingEvents events;
    Engine engine(events, config);
    EXPECT_TRUE(engine.selectCommType(CommType::Lan, true));
    engine.start();
    EXPECT_EQ(engine.listenPort(), 0);

    TempDir source;
    writeFile(source / "a", {1});
    ASSERT_NE(engine.send({{(source / "a").string(), 1}}), kNoTransfer);
    const auto probe = peer.receive(3000);
    EXPECT_TRUE(probe) << "no probe went out while the listening port was taken";
    engine.cancel();
    ASSERT_TRUE(events.waitUntil([&] { return events.connectingClosed > 0; }));
    engine.finishSend();
    engine.stop();
}
