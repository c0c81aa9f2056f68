// One engine on a pty, the far end driven byte by byte: the exchanges on the
// wire, the block rules, and what a hostile or confused peer gets.

#include "crc.h"
#include "serial_harness.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
// Waits for `n` bytes and returns them.
std::vector<uint8_t> expectBytes(WirePeer& peer, size_t n) {
    auto bytes = peer.read(n);
    EXPECT_EQ(bytes.size(), n);
    return bytes;
}
} // namespace

// The COM1 example of one 8192-byte entry, with the engine as the initiator.
TEST(SerialPeer, InitiatorSendsTheWorkedExampleBytes) {
    TempDir source;
    const auto content = randomBytes(8192, 5);
    writeFile(source / "ex.bin", content);
    Pty pty = makePty();
    SerialEngine sender(CommType::Com1, pty.path, {}, "Initiator");
    WirePeer peer = WirePeer::pty(pty.master.get());

    ASSERT_NE(sender.engine.send({{(source / "ex.bin").string(), 8192}}), kNoTransfer);
    EXPECT_EQ(peer.answerDial("Answering end"), nameBlock("Initiator"));
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.connectingClosed > 0; }));
    EXPECT_EQ(sender.engine.state().LinkState, LinkState::Connected);
    sender.engine.startSending();

    // Keep-alive polls may come first; the table follows them.
    std::vector<uint8_t> head = expectBytes(peer, 4);
    for (int i = 0; i < 20 && head == frameBytes(CMD_KEEPALIVE); ++i)
        head = expectBytes(peer, 4);
    EXPECT_EQ(head, frameBytes(CMD_FILE_TABLE));
    const auto table = expectBytes(peer, 5 + 256);
    ASSERT_EQ(table.size(), 261u);
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(getLe32(table.data() + 1), BlockCrc(table.data() + 5, 256));
    EXPECT_EQ(getLe32(table.data() + 5 + 252), 8192u);
    peer.sendCommand(CMD_OK);

    EXPECT_EQ(expectBytes(peer, 5), (std::vector<uint8_t>{0x5F, 0xFF, 0x5F, 0x11, 0x00}));
    peer.sendCommand(CMD_OK);
    for (int32_t k = 0; k < 3; ++k) {
        SCOPED_TRACE("block " + std::to_string(k));
        const size_t length = k < 2 ? 4096 : 0;
        const auto header = expectBytes(peer, 12);
        ASSERT_EQ(header.size(), 12u);
        EXPECT_EQ(slice(header, 0, 4), frameBytes(CMD_BLOCK));
        EXPECT_EQ(getLe32(header.data() + 4), uint32_t(k));
        const auto data = length ? expectBytes(peer, length) : std::vector<uint8_t>{};
        EXPECT_EQ(data, slice(content, size_t(k) * 4096, length));
        EXPECT_EQ(getLe32(header.data() + 8), BlockCrc(data.data(), data.size()));
        peer.sendCommand(CMD_BLOCK_OK);
    }
    EXPECT_EQ(peer.readCommand(), CMD_CLOSE_FILE);
    peer.sendCommand(CMD_OK);

    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.statusClosed > 0; }));
    const SendOutcome outcome = sender.engine.finishSend();
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 1);
    EXPECT_EQ(peer.read(1, 300).size(), 0u) << "nothing follows a completed send";
    EXPECT_EQ(sender.engine.peerName(), "Answering end");
}

// The same example with the engine as the responder; block 1 first arrives
// with a bad CRC and is repeated.
TEST(SerialPeer, ResponderAnswersTheWorkedExample) {
    TempDir dest;
    const auto content = randomBytes(8192, 6);
    Pty pty = makePty();
    SerialEngine receiver(CommType::Com1, pty.path, dest.path(), "Responder");
    WirePeer peer = WirePeer::pty(pty.master.get());

    EXPECT_EQ(peer.dial("Caller"), nameBlock("Responder"));
    EXPECT_TRUE(receiver.events.waitUntil(
        [&] { return receiver.engine.state().LinkState == LinkState::Connected; }));
    peer.sendCommand(CMD_KEEPALIVE);
    EXPECT_EQ(peer.readCommand(1500), 0) << "keep-alive polls are not answered";

    peer.sendTable({{"C:\\Docs\\ex.bin", 8192}});
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    EXPECT_EQ(receiver.engine.peerName(), "Caller");
    peer.sendOpen(0);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    peer.sendBlock(0, slice(content, 0, 4096));
    EXPECT_EQ(expectBytes(peer, 4), frameBytes(CMD_BLOCK_OK)) << "no index follows on this link";
    peer.sendBlock(1, slice(content, 4096, 4096), /*crcDelta*/ 1);
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
    peer.sendBlock(1, slice(content, 4096, 4096));
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    peer.sendBlock(2, {});
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);

    ASSERT_TRUE(receiver.events.waitUntil([&] { return receiver.events.statusClosed > 0; }));
    const ReceiveOutcome outcome = receiver.engine.finishReceive();
    EXPECT_EQ(outcome.filesDone, 1);
    EXPECT_EQ(readFile(dest / "ex.bin"), content);
    EXPECT_EQ(receiver.engine.state().LinkState, LinkState::Listening);
}

TEST(SerialPeer, BlocksThatWereNotAllStoredNeverMakeAFile) {
    TempDir dest;
    const auto content = randomBytes(8192 + 100, 8); // three blocks on COM1
    Pty pty = makePty();
    SerialEngine receiver(CommType::Com1, pty.path, dest.path());
    WirePeer peer = WirePeer::pty(pty.master.get());
    peer.dial("Caller");
    {
        SCOPED_TRACE("block 0 never arrived");
        peer.sendTable({{"a.bin", int32_t(content.size())}, {"b.bin", int32_t(content.size())}});
        ASSERT_EQ(peer.readCommand(), CMD_OK);
        peer.sendOpen(0);
        ASSERT_EQ(peer.readCommand(), CMD_OK);
        peer.sendBlock(1, slice(content, 4096, 4096));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        peer.sendBlock(2, slice(content, 8192, 100));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        peer.sendCommand(CMD_CLOSE_FILE);
        EXPECT_EQ(peer.readCommand(), CMD_OK);
        EXPECT_TRUE(listNames(dest.path()).empty());
    }
    {
        SCOPED_TRACE("a bad block and one out of step are refused, not stored");
        peer.sendOpen(1);
        ASSERT_EQ(peer.readCommand(), CMD_OK);
        peer.sendBlock(0, slice(content, 0, 4096), /*crcDelta*/ 7);
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
        peer.sendBlock(2, slice(content, 8192, 100));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD) << "2 is neither the last block nor the next";
        peer.sendBlock(1, slice(content, 4096, 4096));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        peer.sendBlock(2, slice(content, 8192, 100));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        peer.sendCommand(CMD_CLOSE_FILE);
        EXPECT_EQ(peer.readCommand(), CMD_OK);
    }
    ASSERT_TRUE(receiver.events.waitUntil([&] { return receiver.events.statusClosed > 0; }));
    EXPECT_EQ(receiver.engine.finishReceive().filesDone, 0);
    EXPECT_TRUE(listNames(dest.path()).empty()) << "block 0 of b.bin was never good";
}

TEST(SerialPeer, ReadServiceGetsNoAnswerAndNoByteOfAnyFile) {
    TempDir dest;
    Pty pty = makePty();
    SerialEngine receiver(CommType::Com1, pty.path, dest.path());
    WirePeer peer = WirePeer::pty(pty.master.get());
    peer.dial("Reader");
    peer.sendTable({{"/etc/passwd", int32_t(fs::file_size("/etc/passwd"))}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);

    peer.sendCommand(CMD_OPEN_READ);
    peer.send({0});
    peer.sendCommand(CMD_READ_BLOCK);
    peer.send({0, 0, 0, 0});
    peer.sendCommand(CMD_READ_BLOCK);
    peer.send({1, 0, 0, 0});
    peer.sendCommand(CMD_CLOSE_READ);
    EXPECT_TRUE(peer.read(4096, 2500).empty());

    // The arguments were taken off the line: the next command is read whole.
    peer.sendCommand(CMD_PING);
    EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
    peer.sendCommand(CMD_ABORT);
    EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    EXPECT_TRUE(listNames(dest.path()).empty());
}

TEST(SerialPeer, GarbledFrameWithAMarkerByteDiscardsWhatFollows) {
    TempDir dest;
    Pty pty = makePty();
    SerialEngine receiver(CommType::Com1, pty.path, dest.path());
    WirePeer peer = WirePeer::pty(pty.master.get());
    const auto ping = frameBytes(CMD_PING);
    for (const std::vector<uint8_t>& garbled : {std::vector<uint8_t>{0x01, 0xFF, 0x02, 0x03},
                                                std::vector<uint8_t>{0x01, 0x02, 0x03, 0x11}}) {
        std::vector<uint8_t> bytes = garbled;
        bytes.insert(bytes.end(), ping.begin(), ping.end()); // lands in the same buffer
        peer.send(bytes);
        EXPECT_EQ(peer.readCommand(1500), 0) << "the ping behind the garbled frame was purged";
        peer.sendCommand(CMD_PING);
        EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
    }
    // Without a marker byte nothing is discarded.
    std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04};
    bytes.insert(bytes.end(), ping.begin(), ping.end());
    peer.send(bytes);
    EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
}

TEST(SerialPeer, RawIrResponderWaitsBeforeTheBlockCrc) {
    TempDir dest;
    const auto content = randomBytes(2000, 9);
    Pty pty = makePty();
    SerialEngine receiver(CommType::RawIr, pty.path, dest.path());
    WirePeer peer = WirePeer::pty(pty.master.get());
    peer.dial("Infrared");
    peer.sendTable({{"ir.bin", int32_t(content.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    // The whole block is on the line at once; the answer still cannot come
    // before the responder's pause after the index.
    const auto sentAt = Clock::now();
    peer.sendBlock(0, content);
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    EXPECT_GE(Clock::now() - sentAt, std::chrono::milliseconds(100));
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    ASSERT_TRUE(receiver.events.waitUntil([&] { return receiver.events.statusClosed > 0; }));
    EXPECT_EQ(receiver.engine.finishReceive().filesDone, 1);
    EXPECT_EQ(readFile(dest / "ir.bin"), content);
}

TEST(SerialPeer, UnansweredKeepAlivesDropTheLink) {
    TempDir source;
    writeFile(source / "k.txt", {'k'});
    Pty pty = makePty();
    SerialEngine sender(CommType::Com1, pty.path);
    sender.engine.state().KeepAliveRetries = 3;
    WirePeer peer = WirePeer::pty(pty.master.get());
    ASSERT_NE(sender.engine.send({{(source / "k.txt").string(), 1}}), kNoTransfer);
    peer.answerDial("Quiet end");
    // Two answered polls reset the count; then three go unanswered.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(peer.readCommand(), CMD_KEEPALIVE);
        peer.sendCommand(CMD_KEEPALIVE_REPLY);
    }
    int polls = 0;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (sender.engine.state().LinkState != LinkState::Listening && Clock::now() < end)
        polls += peer.readCommand(200) == CMD_KEEPALIVE;
    EXPECT_EQ(sender.engine.state().LinkState, LinkState::Listening);
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(sender.engine.peerName(), "");
    const SendOutcome outcome = sender.engine.finishSend();
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 0);
}

TEST(SerialPeer, NoTableNoFile) {
    TempDir dest;
    writeFile(dest / "keep.txt", {'o', 'l', 'd'});
    Pty pty = makePty();
    SerialEngine receiver(CommType::Com1, pty.path, dest.path());
    WirePeer peer = WirePeer::pty(pty.master.get());
    peer.dial("Pushy");
    peer.sendTable({{"keep.txt", 3}});
    ASSERT_EQ(peer.readCommand(), CMD_NAME_CONFLICT);
    peer.sendOpen(0);
    EXPECT_EQ(peer.readCommand(1500), 0);
    peer.sendBlock(0, {'n', 'e', 'w'});
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(readFile(dest / "keep.txt"), (std::vector<uint8_t>{'o', 'l', 'd'}));
}
