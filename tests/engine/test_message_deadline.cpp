// The total time of a stream message, its command frame included: about 2 s
// plus its length at 10 KiB/s, however often the bytes come. Driven with a
// clock of the test's own, so the limits are checked to the millisecond.

#include "engine_harness.h"
#include "protocol.h"
#include "receive_session.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class Observer : public SessionObserver, public ReplySink {
public:
    explicit Observer(std::string dest) : m_dest(std::move(dest)) {}
    ReceivePolicy policy() override { return {m_dest, false, "Deadline"}; }
    void incoming() override {}
    void fileStarted(const std::string&) override {}
    void closeStatus() override {}
    void sound(Sound) override {}
    void abortTransfer() override { ++aborts; }
    void transferComplete() override {}
    void linkRequested() override {}
    void receiveEnded(const ReceiveOutcome&) override {}
    void reply(std::span<const uint8_t> bytes) override {
        replies.insert(replies.end(), bytes.begin(), bytes.end());
    }

    int aborts = 0;
    std::vector<uint8_t> replies;

private:
    std::string m_dest;
};

LinkTraits streamTraits() {
    LinkTraits traits;
    traits.dialect = Dialect::Stream;
    traits.blockSize = 32768;
    traits.silenceLimitMs = 2000;
    return traits;
}

struct Session {
    Session()
        : observer(dest.path().string()), session(streamTraits(), counters, observer, observer) {}
    // Feeds `bytes` one at a time, `gapMs` apart from `startMs`, calling tick
    // whenever a deadline comes first, as the socket driver does. Returns the
    // time the connection ended, or -1 when it did not.
    int64_t trickle(const std::vector<uint8_t>& bytes, int64_t startMs, int64_t gapMs) {
        int64_t now = startMs;
        for (const uint8_t byte : bytes) {
            if (waitUntil(now) != -1)
                return lastTick;
            session.feed(std::span<const uint8_t>(&byte, 1), now);
            now += gapMs;
        }
        return -1;
    }
    // Ticks to `untilMs`; the time the connection ended, or -1.
    int64_t waitUntil(int64_t untilMs) {
        while (session.deadline() <= untilMs && !session.linkEnded()) {
            lastTick = session.deadline();
            session.tick(lastTick);
        }
        return session.linkEnded() ? lastTick : -1;
    }
    TempDir dest;
    TransferCounters counters;
    Observer observer;
    ReceiveSession session;
    int64_t lastTick = 0;
};

std::vector<uint8_t> frameOf(uint8_t code) {
    const Frame frame = BuildFrame(code);
    return {frame.begin(), frame.end()};
}

} // namespace

TEST(MessageDeadline, ATrickledFrameEndsTheConnectionTwoSecondsAfterItsFirstByte) {
    for (const uint8_t code : {CMD_PING, CMD_CLOSE_FILE, CMD_FILE_TABLE}) {
        SCOPED_TRACE(int(code));
        Session s;
        // One byte every 1.9 s: each within the 2 s silence limit.
        int64_t ended = s.trickle(frameOf(code), 10'000, 1900);
        if (ended == -1)
            ended = s.waitUntil(20'000);
        ASSERT_NE(ended, -1) << "a frame trickled in whole is served, and the peer may go on";
        EXPECT_LE(ended, 10'000 + 2001);
        EXPECT_TRUE(s.session.linkEnded());
        EXPECT_EQ(s.observer.aborts, 1);
        EXPECT_TRUE(s.observer.replies.empty()) << "nothing of the frame was served";
    }
}

TEST(MessageDeadline, AWholeMessageIsTimedFromTheFirstByteOfItsFrame) {
    // An open: a 4-byte frame and its index, 5 bytes, 2 s in all. Its frame
    // and its argument each come in time, but not the message.
    Session s;
    const auto open = BuildOpenMessage(0);
    s.trickle({open.begin(), open.begin() + 2}, 0, 10);
    s.trickle({open.begin() + 2, open.begin() + 4}, 1500, 10);
    EXPECT_FALSE(s.session.linkEnded());
    const int64_t ended = s.waitUntil(10'000);
    EXPECT_NE(ended, -1);
    EXPECT_LE(ended, 2001);
}

TEST(MessageDeadline, APausedFrameIsStillDroppedAndTheStreamRealigned) {
    // Half a frame, then silence: dropped at the silence limit as before,
    // and the next frame is served on the same connection.
    Session s;
    const std::vector<uint8_t> ping = frameOf(CMD_PING);
    s.trickle({ping.begin(), ping.begin() + 2}, 0, 0);
    EXPECT_EQ(s.waitUntil(5000), -1);
    EXPECT_FALSE(s.session.linkEnded());
    s.trickle(ping, 5000, 0);
    EXPECT_EQ(s.observer.replies, frameOf(CMD_PING_REPLY));
    EXPECT_EQ(s.observer.aborts, 0);
}

TEST(MessageDeadline, AMessageInTimeIsServedEvenFromASlowPeer) {
    // Whole frames 1.9 s apart: each message is in time, however slow the
    // peer is between them.
    Session s;
    const std::vector<uint8_t> ping = frameOf(CMD_PING);
    s.trickle(ping, 0, 0);
    s.trickle(ping, 1900, 0);
    s.trickle(ping, 3800, 0);
    EXPECT_EQ(s.waitUntil(10'000), -1);
    const std::vector<uint8_t> reply = frameOf(CMD_PING_REPLY);
    std::vector<uint8_t> three;
    for (int i = 0; i < 3; ++i)
        three.insert(three.end(), reply.begin(), reply.end());
    EXPECT_EQ(s.observer.replies, three);
}
