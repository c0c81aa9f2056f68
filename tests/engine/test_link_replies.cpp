// Where the receive session's replies go, over a real connection on
// 127.0.0.1: held replies leave only when sent, whole and in order; a purge
// lets the replies already made go before the waiting input is dropped.

#include "link_replies.h"
#include "loopback_socket.h"
#include "socket_link.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>

using namespace zapfer;

namespace {

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

bool waitReadable(int fd, int timeoutMs) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, timeoutMs) == 1;
}

// What the peer reads, waiting at most about 10 s for `n` bytes.
std::string readExactly(int fd, size_t n) {
    std::string text;
    for (int tries = 0; text.size() < n && tries < 100; ++tries) {
        if (!waitReadable(fd, 100))
            continue;
        char buffer[256];
        const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, n - text.size()), 0);
        if (got <= 0)
            break;
        text.append(buffer, size_t(got));
    }
    return text;
}

// A SocketLink on one end of a connection on 127.0.0.1, the peer's raw
// socket on the other, and the replies going out over the link.
struct Wire {
    Wire() {
        test::LoopbackSocket listening = test::bindLoopback(SOCK_STREAM);
        peer.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in address = test::loopbackAddress(listening.port);
        if (::connect(peer.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
                0 ||
            !waitReadable(listening.fd.get(), 10'000))
            return;
        UniqueFd accepted(::accept4(listening.fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        link =
            std::make_unique<SocketLink>(std::move(accepted), 32768, LinkContext{waker, abortFlag});
    }

    Waker waker;
    std::atomic<int32_t> abortFlag{0};
    UniqueFd peer;
    std::unique_ptr<Link> link;
    LinkReplies replies{link, waker};
};

} // namespace

TEST(LinkReplies, HeldRepliesLeaveTogetherInOrderOnlyWhenSent) {
    Wire wire;
    ASSERT_TRUE(wire.link);

    wire.replies.reply(bytesOf("now;"));
    EXPECT_EQ(readExactly(wire.peer.get(), 4), "now;") << "not held: it goes at once";

    wire.replies.hold();
    wire.replies.reply(bytesOf("one;"));
    wire.replies.reply(bytesOf("two;"));
    wire.replies.reply(bytesOf("three;"));
    EXPECT_FALSE(waitReadable(wire.peer.get(), 0)) << "held replies wait for sendHeld";
    wire.replies.sendHeld();
    EXPECT_EQ(readExactly(wire.peer.get(), 14), "one;two;three;");

    wire.replies.reply(bytesOf("after;"));
    EXPECT_EQ(readExactly(wire.peer.get(), 6), "after;") << "holding ends with the send";
    wire.replies.sendHeld();
    EXPECT_FALSE(waitReadable(wire.peer.get(), 0)) << "nothing held is sent twice";
}

TEST(LinkReplies, APurgeSendsTheRepliesMadeBeforeItAndDropsTheWaitingInput) {
    Wire wire;
    ASSERT_TRUE(wire.link);
    const std::string stale = "bytes out of step";
    ASSERT_EQ(::send(wire.peer.get(), stale.data(), stale.size(), MSG_NOSIGNAL),
              ssize_t(stale.size()));
    ASSERT_TRUE(wire.link->waitReady(false, 5000));

    wire.replies.hold();
    wire.replies.reply(bytesOf("answered;"));
    wire.replies.discardInput();
    EXPECT_EQ(readExactly(wire.peer.get(), 9), "answered;")
        << "a reply made before the purge answers what came before it";
    EXPECT_FALSE(wire.link->hasBuffered());

    // What the link reads next is what the peer sends after the purge.
    const std::string fresh = "fresh";
    ASSERT_EQ(::send(wire.peer.get(), fresh.data(), fresh.size(), MSG_NOSIGNAL),
              ssize_t(fresh.size()));
    std::string got(fresh.size(), '\0');
    ASSERT_TRUE(wire.link->receiveExact(reinterpret_cast<uint8_t*>(got.data()), got.size(), 5000));
    EXPECT_EQ(got, fresh);

    // The held replies left with the purge; they are not sent a second time.
    wire.replies.reply(bytesOf("next;"));
    wire.replies.sendHeld();
    EXPECT_EQ(readExactly(wire.peer.get(), 5), "next;");
    EXPECT_FALSE(waitReadable(wire.peer.get(), 0));
}

TEST(LinkReplies, RepliesHeldForALinkThatIsGoneAreForgotten) {
    Wire wire;
    ASSERT_TRUE(wire.link);
    wire.replies.hold();
    wire.replies.reply(bytesOf("for the old link;"));
    wire.replies.clear();
    wire.replies.sendHeld();
    EXPECT_FALSE(waitReadable(wire.peer.get(), 0));

    // Once the link is dropped, replies go nowhere instead of failing.
    wire.link.reset();
    wire.replies.reply(bytesOf("to nobody"));
    wire.replies.hold();
    wire.replies.reply(bytesOf("to nobody"));
    wire.replies.discardInput();
    wire.replies.sendHeld();
    char buffer[16];
    ASSERT_TRUE(waitReadable(wire.peer.get(), 5000));
    EXPECT_EQ(::recv(wire.peer.get(), buffer, sizeof buffer, MSG_DONTWAIT), 0)
        << "the peer sees the connection closed with nothing more on it";
}
