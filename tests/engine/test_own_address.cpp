// A send aimed at this program's own listener is refused at once, while a
// peer that is merely slow, and another engine of this process on another
// port, are still dialled and reached.

#include "engine_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <thread>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A TCP socket of 127.0.0.1 on an ephemeral port, listening when asked to.
UniqueFd loopbackSocket(bool listening, uint16_t& port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening && ::listen(fd.get(), 4) != 0) ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return UniqueFd();
    port = ntohs(address.sin_port);
    return fd;
}

// A WAN engine listening on 127.0.0.1:`listenPort` that sends to
// 127.0.0.1:`peerPort`, with `dest` for what it receives.
struct WanEngine {
    WanEngine(uint16_t listenPort, uint16_t peerPort, const fs::path& dest)
        : engine(events, configFor(listenPort, peerPort)) {
        EngineSettings settings;
        settings.peerIp = loopback();
        settings.destDir = dest.string();
        engine.setSettings(settings);
        EXPECT_TRUE(engine.selectCommType(CommType::Wan, true));
        engine.start();
    }
    ~WanEngine() { engine.stop(); }
    static LinkConfig configFor(uint16_t listenPort, uint16_t peerPort) {
        LinkConfig config;
        config.listenPort = listenPort;
        config.peerPort = peerPort;
        config.echoPort = 0;
        config.listenAddress = loopback();
        return config;
    }
    RecordingEvents events;
    Engine engine;
    SendHandshake handshake{engine};
};

std::vector<SendFile> oneFile(const TempDir& dir) {
    writeFile(dir / "note.txt", {'h', 'e', 'l', 'l', 'o'});
    return {{(dir / "note.txt").string(), 5}};
}

} // namespace

TEST(OwnAddress, ASendToThisProgramsOwnListenerIsRefusedAtOnce) {
    TempDir dir;
    uint16_t port = 0;
    // The port is found free, then handed to the engine to listen on.
    ASSERT_TRUE(loopbackSocket(false, port).valid());
    WanEngine self(port, port, dir / "unused");
    ASSERT_EQ(self.engine.listenPort(), port);

    const TransferId id = self.handshake.begin(oneFile(dir));
    ASSERT_NE(id, kNoTransfer);
    // Without the check the connection waits for an answer nobody gives:
    // connecting never ends by itself.
    ASSERT_TRUE(self.events.waitUntil([&] { return self.events.lastConnecting == id; }, 10s));
    EXPECT_FALSE(self.handshake.connectingClosed(false));
    const SendOutcome& outcome = self.handshake.outcome();
    EXPECT_EQ(outcome.id, id);
    EXPECT_EQ(outcome.failure, SendFailure::OwnAddress);
    EXPECT_EQ(outcome.filesDone, 0);

    // Idle again, and still a receiver: the connection it made to itself,
    // left in its listen queue, does not hold it.
    ASSERT_TRUE(self.events.waitUntil([&] { return self.engine.snapshot().idle(); }, 10s));
    fs::create_directory(dir / "unused");
    Sender other(port);
    TempDir source;
    writeFile(source / "from-other.txt", {'o', 'k'});
    const SendOutcome received = other.send({source / "from-other.txt"});
    EXPECT_EQ(received.filesDone, 1);
    EXPECT_EQ(received.failure, SendFailure::None);
    EXPECT_EQ(readFile(dir / "unused" / "from-other.txt"), (std::vector<uint8_t>{'o', 'k'}));

    // The receive dialog closes; then the refusal is for that send only: the
    // next one starts clean.
    ASSERT_TRUE(self.events.waitUntil([&] { return self.events.statusClosed > 0; }));
    self.engine.finishReceive();
    ASSERT_TRUE(self.events.waitUntil([&] { return self.engine.snapshot().idle(); }, 10s));
    const TransferId next = self.handshake.begin(oneFile(dir));
    ASSERT_NE(next, kNoTransfer);
    ASSERT_TRUE(self.events.waitUntil([&] { return self.events.lastConnecting == next; }, 10s));
    EXPECT_FALSE(self.handshake.connectingClosed(false));
    EXPECT_EQ(self.handshake.outcome().failure, SendFailure::OwnAddress);
}

TEST(OwnAddress, PeersElsewhereAreStillDialledAndReached) {
    TempDir dir;
    {
        SCOPED_TRACE("two engines of one process on 127.0.0.1, each on its own port");
        fs::create_directory(dir / "in");
        Responder responder(dir / "in");
        Sender sender(responder.engine.listenPort());
        writeFile(dir / "a.bin", randomBytes(70000, 3));
        const SendOutcome outcome = sender.send({dir / "a.bin"});
        EXPECT_EQ(outcome.filesDone, 1);
        EXPECT_FALSE(outcome.aborted);
        EXPECT_EQ(outcome.failure, SendFailure::None);
        EXPECT_EQ(readFile(dir / "in" / "a.bin"), randomBytes(70000, 3));
    }
    {
        SCOPED_TRACE("a peer that takes the connection and never answers keeps the resending");
        uint16_t silentPort = 0;
        const UniqueFd silent = loopbackSocket(true, silentPort);
        ASSERT_TRUE(silent.valid());
        WanEngine sender(0, silentPort, dir.path());
        const TransferId id = sender.handshake.begin(oneFile(dir));
        ASSERT_NE(id, kNoTransfer);
        ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.lastConnecting == id; }));
        ASSERT_TRUE(sender.handshake.connectingClosed(false));
        std::this_thread::sleep_for(2500ms);
        const EngineSnapshot now = sender.engine.snapshot();
        EXPECT_EQ(now.linkState, LinkState::Sending);
        EXPECT_FALSE(now.aborting);
        const SendOutcome& outcome = sender.handshake.statusClosed(true);
        EXPECT_EQ(outcome.failure, SendFailure::None);
        EXPECT_EQ(outcome.transferIndex, -1);
    }
    {
        SCOPED_TRACE("a port nobody listens on keeps the dialling going");
        uint16_t closedPort = 0;
        ASSERT_TRUE(loopbackSocket(false, closedPort).valid());
        WanEngine sender(0, closedPort, dir.path());
        const TransferId id = sender.handshake.begin(oneFile(dir));
        ASSERT_NE(id, kNoTransfer);
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(sender.engine.snapshot().linkState, LinkState::Connecting);
        EXPECT_FALSE(
            sender.events.waitUntil([&] { return sender.events.lastConnecting == id; }, 0ms));
        EXPECT_FALSE(sender.handshake.connectingClosed(true));
        EXPECT_EQ(sender.handshake.outcome().failure, SendFailure::None);
    }
}
