#include "outcome_records.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::recording;
namespace history = zapfer::history;

namespace {

TransferContext context() {
    TransferContext c;
    c.link = "wan";
    c.peer = "192.0.2.7";
    c.peerName = "Desk";
    c.startedMs = 1000;
    c.endedMs = 3500;
    return c;
}

FileOutcome file(std::string name, int64_t size, int64_t done, FileResult result,
                 std::optional<uint32_t> crc = std::nullopt, std::string stored = {}) {
    return {std::move(name), std::move(stored), size, done, result, crc};
}

} // namespace

TEST(OutcomeRecords, SendKeepsEveryFileAndChecksumsOnlyOfFilesThatWentThrough) {
    SendOutcome outcome;
    outcome.aborted = true;
    outcome.transferIndex = 2;
    outcome.filesDone = 1;
    outcome.fileCount = 4;
    outcome.files = {file("/a", 10, 10, FileResult::Sent, 0x1234u),
                     file("/b", 5, 0, FileResult::SkippedUnreadable),
                     // Read whole, but the peer never kept it: no checksum of a sent file.
                     file("/c", 20, 20, FileResult::Aborted, 0x99u),
                     file("/d", 7, 0, FileResult::NotReached)};
    const RecordedTransfer r = recordOf(outcome, context());
    EXPECT_EQ(r.transfer.direction, history::Direction::Sent);
    EXPECT_EQ(r.transfer.outcome, history::TransferOutcome::Aborted);
    EXPECT_EQ(r.transfer.link, "wan");
    EXPECT_EQ(r.transfer.peer, "192.0.2.7");
    EXPECT_EQ(r.transfer.peerName, "Desk");
    EXPECT_EQ(r.transfer.durationMs, 2500);
    EXPECT_EQ(r.transfer.bytes, 30u);
    ASSERT_EQ(r.files.size(), 4u);
    EXPECT_EQ(r.files[0].result, history::FileResult::Sent);
    EXPECT_EQ(r.files[0].crc32, 0x1234u);
    EXPECT_EQ(r.files[0].nameStored, "");
    EXPECT_EQ(r.files[1].result, history::FileResult::SkippedUnreadable);
    EXPECT_EQ(r.files[2].result, history::FileResult::Aborted);
    EXPECT_EQ(r.files[2].crc32, std::nullopt);
    EXPECT_EQ(r.files[3].result, history::FileResult::Aborted) << "stopped before it";
}

TEST(OutcomeRecords, RefusedTableAndFailuresAndASendThatNeverConnected) {
    SendOutcome refused;
    refused.peerError = PeerNameConflict;
    refused.aborted = true;
    refused.transferIndex = -1;
    refused.files = {file("/a", 1, 0, FileResult::NotReached)};
    const RecordedTransfer r = recordOf(refused, context());
    EXPECT_EQ(r.transfer.outcome, history::TransferOutcome::Refused);
    EXPECT_EQ(r.transfer.refusalCode, int(PeerNameConflict));
    EXPECT_EQ(r.files[0].result, history::FileResult::Refused);

    SendOutcome blocked;
    blocked.failure = SendFailure::BlockNotAcknowledged;
    blocked.aborted = true;
    const RecordedTransfer f = recordOf(blocked, context());
    EXPECT_EQ(f.transfer.outcome, history::TransferOutcome::Failed);
    EXPECT_FALSE(f.transfer.detail.empty());
    EXPECT_EQ(f.transfer.refusalCode, std::nullopt);

    // The link never came up: the files it was begun with, none reached.
    SendOutcome never;
    never.aborted = true;
    const RecordedTransfer n = recordOf(never, context(), {{"/x", 3}, {"/y", 4}});
    ASSERT_EQ(n.files.size(), 2u);
    EXPECT_EQ(n.files[1].nameSent, "/y");
    EXPECT_EQ(n.files[1].size, 4u);
    EXPECT_EQ(n.files[1].result, history::FileResult::Aborted);
    EXPECT_EQ(n.transfer.outcome, history::TransferOutcome::Aborted);
}

TEST(OutcomeRecords, ReceiveKeepsStoredNamesAndSaneNumbers) {
    ReceiveOutcome outcome;
    outcome.files = {file("dir\\a.txt", 4, 4, FileResult::Stored, 7u, "a (2).txt"),
                     // A name the receive never created is not a stored name.
                     file("b.txt", 9, 3, FileResult::Failed, std::nullopt, "b.txt"),
                     // Numbers a hostile peer could make up.
                     file("c", -5, 12, FileResult::Aborted)};
    TransferContext c = context();
    c.endedMs = 500; // a clock stepped back mid-transfer
    const RecordedTransfer r = recordOf(outcome, c);
    EXPECT_EQ(r.transfer.direction, history::Direction::Received);
    EXPECT_EQ(r.transfer.outcome, history::TransferOutcome::Completed);
    EXPECT_EQ(r.transfer.durationMs, 0);
    EXPECT_GE(r.transfer.endedMs, r.transfer.startedMs);
    EXPECT_EQ(r.files[0].nameStored, "a (2).txt");
    EXPECT_EQ(r.files[0].crc32, 7u);
    EXPECT_EQ(r.files[1].nameStored, "");
    EXPECT_EQ(r.files[2].size, 0u);
    EXPECT_EQ(r.files[2].bytesDone, 0u);
    EXPECT_EQ(r.transfer.bytes, 7u);
}

TEST(OutcomeRecords, LinkNamesAndAddresses) {
    EXPECT_EQ(linkNameOf(CommType::Lan), "lan");
    EXPECT_EQ(linkNameOf(CommType::Wan), "wan");
    EXPECT_EQ(linkNameOf(CommType::RawIr), "rawir");
    EXPECT_EQ(linkNameOf(CommType::Com2), "com2");
    EXPECT_EQ(addressText(0xC0A80A01u), "192.168.10.1");
    EXPECT_EQ(addressText(0), "");
}
