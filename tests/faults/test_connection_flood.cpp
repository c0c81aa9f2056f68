// A flood of connections, some of them left open without a word, must not
// keep a real sender out: the responder drops a peer that has sent no table
// once another is waiting, and serves the sender when its turn comes.

#include "fault_scene.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <memory>
#include <thread>

using namespace zapfer;
using namespace zapfer::test;
using namespace std::chrono_literals;

namespace {

// Starts a connection without waiting for it to complete.
UniqueFd startConnect(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

// True when the responder closed `fd` (a non-blocking socket) in time.
bool closedByResponder(int fd, std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        uint8_t buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
    return false;
}

void resetClose(UniqueFd& fd) {
    const linger abortive{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    fd.reset();
}

} // namespace

TEST(ConnectionFlood, SilentConnectionsDoNotKeepASenderOut) {
    FaultScene scene(WireLink::Socket, false);
    TempDir source;
    const Bytes data = randomBytes(100000, 11);
    writeFile(source / "flood.bin", data);

    // 200 connections in a row: every 40th stays open and silent, the others
    // are closed at once, half of them with a reset.
    std::vector<UniqueFd> silent;
    for (int i = 0; i < 200; ++i) {
        UniqueFd fd = startConnect(scene.port());
        ASSERT_TRUE(fd.valid());
        if (i % 40 == 0)
            silent.push_back(std::move(fd));
        else if (i % 2)
            resetClose(fd);
    }
    ASSERT_EQ(silent.size(), 5u);

    auto sender = std::make_unique<Sender>(scene.port());
    std::vector<SendFile> list = {{(source / "flood.bin").string(), int64_t(data.size())}};
    SendRefused why;
    ASSERT_NE(sender->engine.send(list, &why), kNoTransfer) << why.path;
    // Bounded by the silent peers ahead of it, each dropped after one read
    // time-out, with room to spare for slow sanitizer builds.
    ASSERT_TRUE(sender->events.waitUntil([&] { return sender->events.connectingClosed > 0; }, 90s));
    ASSERT_EQ(sender->engine.state().AbortFlag, 0);
    sender->engine.startSending();
    ASSERT_TRUE(sender->events.waitUntil([&] { return sender->events.statusClosed > 0; }, 60s));
    const SendOutcome outcome = sender->engine.finishSend();
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 1);
    EXPECT_EQ(readFile(scene.dest() / "flood.bin"), data);
    sender.reset();

    // The silent peers were dropped by the responder, not by this test.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (const UniqueFd& fd : silent)
        EXPECT_TRUE(closedByResponder(fd.get(), deadline));
    silent.clear();
    scene.expectClean();
}

TEST(ConnectionFlood, ASilentPeerAloneIsDroppedBeforeLong) {
    FaultScene scene(WireLink::Socket);
    WirePeer quiet = scene.peer();
    // Neither silence nor chatter without a table holds the responder.
    WirePeer chatty = scene.peer();
    EXPECT_TRUE(quiet.closedByPeer(30000));
    for (int i = 0; i < 40 && chatty.connected(); ++i) {
        chatty.sendCommand(CMD_PING);
        if (chatty.readCommand(3000) != CMD_PING_REPLY)
            break;
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_TRUE(chatty.closedByPeer(30000));
    quiet.close();
    chatty.close();
    scene.expectClean();
}
