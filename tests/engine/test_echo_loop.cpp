// The LAN EchoResponder cannot be turned against itself: a probe from a
// privileged or discovery port gets no answer, and one forged datagram whose
// source is another responder does not set the two answering each other.
// Forging a source port takes root (a low port or a raw socket).

#include "engine_harness.h"
#include "loopback_socket.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>

using namespace zapfer;
using namespace zapfer::test;
using namespace std::chrono_literals;

namespace {
constexpr std::array<uint8_t, 4> kProbe = {0x66, 0x12, 0x34, 0x56};

// A UDP socket on 127.0.0.1: `port`, or an ephemeral one for 0.
class UdpSocket {
public:
    explicit UdpSocket(uint16_t port = 0) : m_bound(bindLoopback(SOCK_DGRAM, port)) {}
    bool valid() const { return m_bound.fd.valid(); }
    uint16_t port() const { return m_bound.port; }
    void sendTo(uint16_t port) {
        const sockaddr_in address = loopbackAddress(port);
        ::sendto(m_bound.fd.get(), kProbe.data(), kProbe.size(), 0,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    bool answered(int timeoutMs) {
        pollfd fd{m_bound.fd.get(), POLLIN, 0};
        std::array<uint8_t, 16> bytes{};
        return ::poll(&fd, 1, timeoutMs) > 0 &&
               ::recv(m_bound.fd.get(), bytes.data(), bytes.size(), 0) > 0;
    }

private:
    LoopbackSocket m_bound;
};

// A LAN engine answering probes on an ephemeral port of 127.0.0.1.
struct EchoEngine {
    explicit EchoEngine(uint16_t probePort = 1755)
        : engine(events, [probePort] {
              LinkConfig config;
              config.listenPort = 0;
              config.echoPort = 0;
              config.probePort = probePort;
              config.listenAddress = loopback();
              return config;
          }()) {
        engine.selectCommType(CommType::Lan, true);
        engine.start();
    }
    ~EchoEngine() { engine.stop(); }
    RecordingEvents events;
    Engine engine;
};

// A UDP datagram to 127.0.0.1:to that claims to come from 127.0.0.1:from.
bool forgeProbe(uint16_t from, uint16_t to) {
    UniqueFd raw(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!raw)
        return false;
    std::array<uint8_t, sizeof(udphdr) + kProbe.size()> datagram{};
    udphdr header{};
    header.source = htons(from);
    header.dest = htons(to);
    header.len = htons(uint16_t(datagram.size()));
    header.check = 0; // none: allowed over IPv4
    std::memcpy(datagram.data(), &header, sizeof header);
    std::memcpy(datagram.data() + sizeof header, kProbe.data(), kProbe.size());
    const sockaddr_in address = loopbackAddress(to);
    return ::sendto(raw.get(), datagram.data(), datagram.size(), 0,
                    reinterpret_cast<const sockaddr*>(&address),
                    sizeof address) == ssize_t(datagram.size());
}

// Counts the UDP datagrams on the loopback interface between two ports, in
// either direction, for as long as it is asked to watch.
class LoopbackCounter {
public:
    LoopbackCounter() : m_fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP))) {
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_protocol = htons(ETH_P_IP);
        link.sll_ifindex = int(if_nametoindex("lo"));
        if (m_fd && ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&link), sizeof link) != 0)
            m_fd.reset();
    }
    bool valid() const { return m_fd.valid(); }

    int count(uint16_t a, uint16_t b, std::chrono::milliseconds watch) {
        const auto deadline = std::chrono::steady_clock::now() + watch;
        int seen = 0;
        // Bounded by time, and by count should the loop run away.
        while (seen < 1'000'000) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= 0ms)
                break;
            pollfd fd{m_fd.get(), POLLIN, 0};
            if (::poll(&fd, 1, int(left.count())) <= 0)
                continue;
            std::array<uint8_t, 256> packet{};
            sockaddr_ll from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(m_fd.get(), packet.data(), packet.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            // Loopback shows each datagram twice, going out and coming in.
            if (n < 20 || from.sll_pkttype == PACKET_OUTGOING)
                continue;
            const size_t ipHeader = size_t(packet[0] & 0x0F) * 4;
            if (packet[9] != IPPROTO_UDP || size_t(n) < ipHeader + 4)
                continue;
            const uint16_t source = uint16_t(packet[ipHeader] << 8 | packet[ipHeader + 1]);
            const uint16_t dest = uint16_t(packet[ipHeader + 2] << 8 | packet[ipHeader + 3]);
            if ((source == a && dest == b) || (source == b && dest == a))
                ++seen;
        }
        return seen;
    }

private:
    UniqueFd m_fd;
};

bool isRoot() {
    return ::geteuid() == 0;
}
} // namespace

TEST(EchoLoop, DiscoveryPortProbesAreNotAnswered) {
    UdpSocket discovery;
    ASSERT_TRUE(discovery.valid());
    EchoEngine responder(discovery.port()); // probes of this machine go to that port
    discovery.sendTo(responder.engine.echoPort());
    EXPECT_FALSE(discovery.answered(600)) << "answered a probe from the discovery port";

    UdpSocket sender; // a sender probes from an ephemeral port
    sender.sendTo(responder.engine.echoPort());
    EXPECT_TRUE(sender.answered(3000));
}

TEST(EchoLoop, PrivilegedPortProbesAreNotAnswered) {
    if (!isRoot())
        GTEST_SKIP() << "binding a port below 1024 needs root";
    std::unique_ptr<UdpSocket> low;
    for (uint16_t port = 1023; port >= 900 && !low; --port) {
        auto candidate = std::make_unique<UdpSocket>(port);
        if (candidate->valid())
            low = std::move(candidate);
    }
    ASSERT_TRUE(low) << "no free port between 900 and 1023";
    EchoEngine responder;
    low->sendTo(responder.engine.echoPort());
    EXPECT_FALSE(low->answered(600)) << "answered port " << low->port();

    UdpSocket sender;
    sender.sendTo(responder.engine.echoPort());
    EXPECT_TRUE(sender.answered(3000));
}

TEST(EchoLoop, AForgedProbeBetweenTwoRespondersDiesOut) {
    if (!isRoot())
        GTEST_SKIP() << "forging a source port and watching loopback need root";
    LoopbackCounter counter;
    ASSERT_TRUE(counter.valid());
    {
        SCOPED_TRACE("the source is the other machine's discovery port: no answer at all");
        EchoEngine b;
        EchoEngine a(b.engine.echoPort()); // as on a LAN, where both use one port
        ASSERT_TRUE(forgeProbe(b.engine.echoPort(), a.engine.echoPort()));
        EXPECT_LE(counter.count(a.engine.echoPort(), b.engine.echoPort(), 1500ms), 1)
            << "the forged datagram alone";
    }
    {
        SCOPED_TRACE("any other port: the rate limit keeps the exchange to a trickle");
        EchoEngine a;
        EchoEngine b;
        ASSERT_TRUE(forgeProbe(b.engine.echoPort(), a.engine.echoPort()));
        // Ten answers a second each way; 1.5 s spans two windows, a third is slack
        // for a slow machine. Unlimited, it is tens of thousands.
        EXPECT_LE(counter.count(a.engine.echoPort(), b.engine.echoPort(), 1500ms), 1 + 3 * 2 * 10);
    }
}
