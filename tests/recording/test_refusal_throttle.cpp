#include "outcome_records.h"
#include "refusal_throttle.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::recording;
namespace history = zapfer::history;

TEST(RefusalThrottle, KeepsAFewPerAddressAndAFewOverallWithinTheWindow) {
    RefusalThrottle throttle(1000, 2, 3);
    EXPECT_TRUE(throttle.admit(1, 0));
    EXPECT_TRUE(throttle.admit(1, 10));
    EXPECT_FALSE(throttle.admit(1, 20)) << "a third from one address";
    EXPECT_TRUE(throttle.admit(2, 30));
    EXPECT_FALSE(throttle.admit(3, 40)) << "past the overall limit";
    EXPECT_FALSE(throttle.admit(2, 999));
    // The first two have left the window; the one from address 2 has not.
    EXPECT_TRUE(throttle.admit(3, 1010));
    EXPECT_TRUE(throttle.admit(1, 1011));
    EXPECT_FALSE(throttle.admit(4, 1012));

    // A flood is bounded however long it lasts: per window, at most the limit.
    RefusalThrottle flood(1000, 5, 20);
    int kept = 0;
    for (int64_t t = 0; t < 10000; t += 2)
        kept += flood.admit(7, t) ? 1 : 0;
    EXPECT_EQ(kept, 50);

    // A clock set back does not keep refusals out until it catches up.
    RefusalThrottle backwards(1000, 1, 1);
    EXPECT_TRUE(backwards.admit(1, 500000));
    EXPECT_TRUE(backwards.admit(1, 1000));
}

TEST(RefusalThrottle, ARefusedTableIsAReceivedTransferWithEveryFileRefused) {
    RefusedReceive refusal;
    refusal.peerAddress = 0x7F000001u;
    refusal.refusal = PeerNoSpace;
    refusal.files = {{"big.iso", {}, 5000, 0, FileResult::Refused, std::nullopt},
                     {"odd", {}, 12, 12, FileResult::NotReached, 0x1234u}};
    TransferContext context;
    context.link = "lan";
    context.peer = "127.0.0.1";
    context.startedMs = context.endedMs = 42;
    const RecordedTransfer r = recordOf(refusal, context);
    EXPECT_EQ(r.transfer.direction, history::Direction::Received);
    EXPECT_EQ(r.transfer.outcome, history::TransferOutcome::Refused);
    EXPECT_EQ(r.transfer.refusalCode, int(PeerNoSpace));
    EXPECT_EQ(r.transfer.peer, "127.0.0.1");
    EXPECT_EQ(r.transfer.bytes, 0u);
    EXPECT_TRUE(r.transfer.detail.empty());
    ASSERT_EQ(r.files.size(), 2u);
    EXPECT_EQ(r.files[0].nameSent, "big.iso");
    EXPECT_EQ(r.files[0].size, 5000u);
    for (const auto& file : r.files) {
        EXPECT_EQ(file.result, history::FileResult::Refused);
        EXPECT_EQ(file.bytesDone, 0u);
        EXPECT_EQ(file.nameStored, "");
        EXPECT_EQ(file.crc32, std::nullopt);
    }

    refusal.peerNotAccepted = true;
    refusal.refusal = PeerCannotCreate;
    EXPECT_FALSE(recordOf(refusal, context).transfer.detail.empty());
}
