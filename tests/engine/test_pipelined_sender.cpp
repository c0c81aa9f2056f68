// The pipelined block sender against a responder that follows the protocol's
// rules literally, and the go-back-N bookkeeping on its own.

#include "block_window.h"
#include "engine_harness.h"
#include "literal_responder.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

TEST(BlockWindow, InOrderRepliesAdvanceAndGrowTheWindow) {
    BlockWindow window(100, 4, 16);
    for (int round = 0; round < 3; ++round) {
        const int32_t base = window.acknowledged();
        const int32_t size = window.window();
        while (window.canSend())
            window.recordSent(window.nextToSend());
        EXPECT_EQ(window.nextToSend() - base, size);
        for (int32_t k = base; k < base + size; ++k)
            EXPECT_TRUE(window.onReply({CMD_BLOCK_OK, k}));
    }
    EXPECT_EQ(window.acknowledged(), 4 + 8 + 16);
    EXPECT_EQ(window.window(), 16) << "bounded by its limit";
}

TEST(BlockWindow, BadBlockGoesBackAndOldRepliesAreIgnored) {
    BlockWindow window(10, 8, 8);
    for (int32_t k = 0; k < 8; ++k)
        window.recordSent(k);
    EXPECT_TRUE(window.onReply({CMD_BLOCK_OK, 0}));
    EXPECT_FALSE(window.onReply({CMD_BLOCK_BAD, 1}));
    EXPECT_EQ(window.nextToSend(), 1) << "go back to the first unacknowledged block";
    // Replies to the earlier transmissions of 2..7 still arrive: they count for nothing.
    for (int32_t k = 2; k < 8; ++k)
        EXPECT_FALSE(window.onReply({CMD_BLOCK_OK, k}));
    EXPECT_EQ(window.acknowledged(), 1);
    while (window.canSend())
        window.recordSent(window.nextToSend());
    for (int32_t k = 1; k < 9; ++k)
        EXPECT_TRUE(window.onReply({CMD_BLOCK_OK, k})) << k;
}

TEST(BlockWindow, MissingOrUnexpectedRepliesGoBack) {
    BlockWindow window(10, 4, 4);
    for (int32_t k = 0; k < 4; ++k)
        window.recordSent(k);
    // The reply to block 0 never came: the one for block 1 shows it.
    EXPECT_FALSE(window.onReply({CMD_BLOCK_OK, 1}));
    EXPECT_EQ(window.nextToSend(), 0);
    EXPECT_FALSE(window.onReply({CMD_BLOCK_OK, 77})) << "answers nothing that was sent";
    // A reply that arrives for a block whose sending began before the restart is stale.
    window.recordSent(3);
    EXPECT_FALSE(window.onReply({CMD_BLOCK_OK, 3}));
    window.goBack();
    EXPECT_FALSE(window.awaitingReplies());
}

TEST(ReplyParser, SplitsRepliesAndSkipsGarbage) {
    ReplyParser parser;
    const auto ok = BuildBlockReply(CMD_BLOCK_OK, 5);
    const auto bad = BuildBlockReply(CMD_BLOCK_BAD, 0x01020304);
    const Frame abort = BuildFrame(CMD_ABORT);
    std::vector<uint8_t> stream = {0x11, 0xFF, 0x00};
    stream.insert(stream.end(), ok.begin(), ok.end());
    stream.insert(stream.end(), abort.begin(), abort.end());
    stream.insert(stream.end(), bad.begin(), bad.end());
    // Fed in awkward pieces, as a socket delivers them.
    parser.feed(stream.data(), 5);
    EXPECT_FALSE(parser.next());
    parser.feed(stream.data() + 5, stream.size() - 6);
    auto first = parser.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->code, CMD_BLOCK_OK);
    EXPECT_EQ(first->index, 5);
    auto second = parser.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->code, CMD_ABORT);
    EXPECT_FALSE(parser.next()) << "the last index byte is still missing";
    parser.feed(stream.data() + stream.size() - 1, 1);
    auto third = parser.next();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->code, CMD_BLOCK_BAD);
    EXPECT_EQ(third->index, 0x01020304);
}

namespace {
struct Case {
    const char* name;
    LiteralResponder::Options options;
};
} // namespace

TEST(PipelinedSender, LiteralRespondersGetEveryFileComplete) {
    TempDir source;
    std::vector<fs::path> files;
    std::vector<std::vector<uint8_t>> contents;
    for (const size_t size : {size_t(0), size_t(1), size_t(32768), size_t(3 << 20) + 17}) {
        contents.push_back(randomBytes(size, uint32_t(size)));
        files.push_back(source / ("f" + std::to_string(files.size())));
        writeFile(files.back(), contents.back());
    }
    std::vector<Case> cases;
    cases.push_back({"in order", {}});
    LiteralResponder::Options bad;
    bad.badOnce = {{2, 0}, {3, 0}, {3, 1}, {3, 20}, {3, 96}};
    cases.push_back({"bad blocks", bad});
    LiteralResponder::Options slow;
    slow.replyDelay = std::chrono::milliseconds(2);
    cases.push_back({"slow replies", slow});
    // Writes that stop part-way through blocks while go-backs change what
    // comes next: a block begun still goes out whole, and nothing after it
    // that the go-back replaced.
    LiteralResponder::Options narrow = bad;
    narrow.receiveBuffer = 4096;
    narrow.replyDelay = std::chrono::milliseconds(1);
    cases.push_back({"narrow receive buffer and bad blocks", narrow});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiteralResponder responder(c.options);
        Sender sender(responder.port());
        const SendOutcome outcome = sender.send(files);
        ASSERT_TRUE(responder.waitFinished());
        EXPECT_FALSE(outcome.aborted);
        EXPECT_EQ(outcome.filesDone, int(files.size()));
        EXPECT_EQ(responder.incompleteCloses, 0);
        if (!c.options.badOnce.empty()) {
            EXPECT_GT(responder.blocksReceived, 99) << "refused blocks were sent again";
        }
        ASSERT_EQ(responder.completeFiles.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(responder.completeFiles[int(i)], contents[i]) << i;
    }
}

TEST(PipelinedSender, AbortInTheMiddleOfAFullWindow) {
    TempDir source;
    const auto file = source / "big";
    writeFile(file, randomBytes(64 << 20, 9));
    LiteralResponder::Options slow;
    slow.replyDelay = std::chrono::milliseconds(1); // keeps the window full
    LiteralResponder responder(slow);
    Sender sender(responder.port());
    ASSERT_NE(sender.engine.send({{file.string(), int64_t(fs::file_size(file))}}), kNoTransfer);
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.connectingClosed > 0; }));
    sender.engine.startSending();
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.engine.state().BlocksDone > 16; }));
    sender.engine.cancel();
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.statusClosed > 0; }));
    const SendOutcome outcome = sender.engine.finishSend();
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 0);
    ASSERT_TRUE(responder.waitFinished());
    EXPECT_EQ(responder.abortsReceived, 1) << "the abort is read as a command, in step";
    EXPECT_TRUE(responder.completeFiles.empty());
}

TEST(PipelinedSender, AFileThePeerCannotKeepIsNotCountedAndTheSendGoesOn) {
    TempDir source;
    std::vector<fs::path> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(source / ("f" + std::to_string(i)));
        writeFile(files.back(), randomBytes(40000, uint32_t(i)));
    }
    LiteralResponder::Options options;
    options.cannotKeep = {1};
    LiteralResponder responder(options);
    Sender sender(responder.port());
    const SendOutcome outcome = sender.send(files);
    ASSERT_TRUE(responder.waitFinished());
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.sent, (std::vector<bool>{true, false, true}));
    ASSERT_EQ(outcome.files.size(), 3u);
    EXPECT_EQ(outcome.files[1].result, FileResult::Failed);
    EXPECT_EQ(outcome.peerError, PeerNoError) << "not a refusal of the whole send";
    EXPECT_EQ(responder.completeFiles.size(), 2u);
}
