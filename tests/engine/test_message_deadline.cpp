// The total time of a stream message, its command frame included: 2 s plus
// its length at 10 KiB/s from the first byte of its frame, however often the
// bytes come. The socket driver drops a peer past it when another sender
// waits. Driven with a clock of the test's own, so the limits are checked to
// the millisecond.

#include "engine_harness.h"
#include "protocol.h"
#include "receive_session.h"

#include <gtest/gtest.h>

#include <limits>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class Observer : public SessionObserver, public ReplySink {
public:
    explicit Observer(std::string dest) : m_dest(std::move(dest)) {}
    ReceivePolicy policy() override { return {m_dest, NameConflict::Refuse, "Deadline"}; }
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
    explicit Session(const LinkTraits& traits = streamTraits())
        : observer(dest.path().string()), session(traits, counters, observer, observer) {}
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
        while (session.parser().deadline() <= untilMs && !session.linkEnded()) {
            lastTick = session.parser().deadline();
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

constexpr int64_t kNone = std::numeric_limits<int64_t>::max();

} // namespace

TEST(MessageDeadline, ATrickledFrameIsOverItsTimeTwoSecondsAfterItsFirstByte) {
    Session s;
    const std::vector<uint8_t> ping = frameOf(CMD_PING);
    // One byte every 1.9 s: each within the 2 s silence limit.
    EXPECT_EQ(s.trickle({ping[0], ping[1]}, 10'000, 1900), -1);
    EXPECT_EQ(s.session.parser().messageDeadline(), 12'000);
    EXPECT_EQ(s.trickle({ping[2]}, 13'800, 0), -1);
    EXPECT_EQ(s.session.parser().messageDeadline(), 12'000) << "still the same frame";
    // Left to itself the session serves it: a slow peer alone is not harmed.
    EXPECT_EQ(s.trickle({ping[3]}, 15'700, 0), -1);
    EXPECT_EQ(s.observer.replies, frameOf(CMD_PING_REPLY));
    EXPECT_EQ(s.session.parser().messageDeadline(), kNone);
    EXPECT_EQ(s.observer.aborts, 0);
}

TEST(MessageDeadline, AWholeMessageIsTimedFromTheFirstByteOfItsFrame) {
    {
        SCOPED_TRACE("an open: its frame and its index, 5 bytes");
        Session s;
        const auto open = BuildOpenMessage(0);
        s.trickle({open.begin(), open.begin() + 2}, 0, 10);
        s.trickle({open.begin() + 2, open.begin() + 4}, 1500, 10);
        EXPECT_TRUE(s.session.parser().midMessage());
        EXPECT_EQ(s.session.parser().messageDeadline(), 2000);
    }
    {
        SCOPED_TRACE("a table of one entry: 4 + 5 + 256 bytes, known once its header is in");
        Session s;
        std::vector<uint8_t> table(4 + 5 + 256);
        const std::vector<uint8_t> frame = frameOf(CMD_FILE_TABLE);
        std::copy(frame.begin(), frame.end(), table.begin());
        table[4] = 1;
        s.session.feed(std::span<const uint8_t>(table.data(), 4), 100);
        s.session.feed(std::span<const uint8_t>(table.data() + 4, 5), 900);
        EXPECT_EQ(s.session.parser().messageDeadline(), 100 + 2000 + 265 * 1000 / 10240);
        s.session.feed(std::span<const uint8_t>(table.data() + 9, 100), 1500);
        EXPECT_EQ(s.session.parser().messageDeadline(), 100 + 2000 + 265 * 1000 / 10240);
    }
}

TEST(MessageDeadline, NoneWhileNoMessageIsUnderWayNorOnASerialLine) {
    Session s;
    EXPECT_EQ(s.session.parser().messageDeadline(), kNone);
    s.trickle(frameOf(CMD_PING), 0, 0);
    EXPECT_EQ(s.session.parser().messageDeadline(), kNone);
    // Half a frame, then silence: dropped at the silence limit as before.
    const std::vector<uint8_t> ping = frameOf(CMD_PING);
    s.trickle({ping[0], ping[1]}, 1000, 0);
    EXPECT_EQ(s.session.parser().messageDeadline(), 3000);
    EXPECT_EQ(s.waitUntil(5000), -1);
    EXPECT_FALSE(s.session.parser().midMessage());
    EXPECT_EQ(s.session.parser().messageDeadline(), kNone);

    LinkTraits line = streamTraits();
    line.dialect = Dialect::Line;
    line.blockSize = 4096;
    line.silenceLimitMs = 100;
    Session serial(line);
    serial.trickle({ping[0], ping[1]}, 0, 0);
    EXPECT_TRUE(serial.session.parser().midMessage());
    EXPECT_EQ(serial.session.parser().messageDeadline(), kNone);
}
