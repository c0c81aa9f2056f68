// A real responder against peers that fail or misbehave at every step of a
// transfer. Whatever the peer does, the responder ends back in Listening
// with no descriptor kept, nothing written outside its destination, no
// temporary file left and an older file of the same name intact.

#include "fault_scene.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
using namespace std::chrono_literals;

namespace {

constexpr int32_t kBlock = 32768;                     // the WAN type's block size
const Bytes kData = randomBytes(2 * kBlock + 100, 7); // three blocks, the last short

Bytes blockOf(const Bytes& data, int32_t k) {
    return test::blockOf(data, k, kBlock);
}

// Table of keep.txt with kData's size, accepted, and entry 0 opened.
void openKeep(WirePeer& peer) {
    peer.send(tableMessage({textEntry("C:\\src\\keep.txt", int32_t(kData.size()))}));
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
}

void expectBlockReply(WirePeer& peer, uint8_t code, int32_t k) {
    int32_t index = -1;
    EXPECT_EQ(peer.readBlockReply(&index), code) << "block " << k;
    EXPECT_EQ(index, k);
}

} // namespace

TEST(FaultInjection, PeerThatStopsInTheMiddleOfABlock) {
    FaultScene scene(WireLink::Socket);
    {
        SCOPED_TRACE("stops and closes");
        WirePeer peer = scene.peer();
        openKeep(peer);
        const Bytes block = blockMessage(0, blockOf(kData, 0));
        peer.send(Bytes(block.begin(), block.begin() + 1000));
        peer.close();
        scene.expectClean();
    }
    {
        SCOPED_TRACE("stops and stays connected, then sends the file again");
        WirePeer peer = scene.peer();
        openKeep(peer);
        const Bytes block = blockMessage(0, blockOf(kData, 0));
        peer.send(Bytes(block.begin(), block.begin() + 1000));
        // A stream cannot be realigned inside a block: past its read time-out
        // the responder aborts and ends the connection.
        EXPECT_EQ(peer.readCommand(), CMD_ABORT);
        EXPECT_TRUE(peer.closedByPeer());
        peer.close();
        scene.expectClean();

        WirePeer again = scene.peer();
        openKeep(again);
        for (int32_t k = 0; k < 3; ++k) {
            again.sendBlock(k, blockOf(kData, k));
            expectBlockReply(again, CMD_BLOCK_OK, k);
        }
        again.sendCommand(CMD_CLOSE_FILE);
        EXPECT_EQ(again.readCommand(), CMD_OK);
        EXPECT_TRUE(again.closedByPeer());
        again.close();
        scene.expectClean(kData);
    }
}

TEST(FaultInjection, PeerThatVanishesAfterTheTableOrTheOpen) {
    FaultScene scene(WireLink::Socket);
    {
        SCOPED_TRACE("after the table");
        WirePeer peer = scene.peer();
        peer.send(tableMessage({textEntry("keep.txt", int32_t(kData.size()))}));
        ASSERT_EQ(peer.readCommand(), CMD_OK);
        peer.close();
        scene.expectClean();
    }
    {
        SCOPED_TRACE("after the open");
        WirePeer peer = scene.peer();
        openKeep(peer);
        peer.close();
        scene.expectClean();
    }
    {
        SCOPED_TRACE("after all blocks but before the close");
        WirePeer peer = scene.peer();
        openKeep(peer);
        for (int32_t k = 0; k < 3; ++k) {
            peer.sendBlock(k, blockOf(kData, k));
            expectBlockReply(peer, CMD_BLOCK_OK, k);
        }
        peer.close();
        scene.expectClean();
    }
}

TEST(FaultInjection, ConnectionResetAtEveryStep) {
    FaultScene scene(WireLink::Socket);
    const Bytes block = blockMessage(0, blockOf(kData, 0));
    const Bytes table = tableMessage({textEntry("keep.txt", int32_t(kData.size()))});
    for (int step = 0; step < 6; ++step) {
        SCOPED_TRACE("reset at step " + std::to_string(step));
        WirePeer peer = scene.peer();
        ASSERT_TRUE(peer.connected());
        if (step <= 1) { // once the responder has taken the connection
            peer.sendCommand(CMD_PING);
            ASSERT_EQ(peer.readCommand(), CMD_PING_REPLY);
        }
        if (step == 1)
            peer.send(Bytes(table.begin(), table.begin() + 100)); // inside the table
        if (step >= 2)
            openKeep(peer);
        if (step == 3)
            peer.send(Bytes(block.begin(), block.begin() + 20000)); // inside a block
        if (step >= 4) {
            peer.send(block);
            expectBlockReply(peer, CMD_BLOCK_OK, 0);
        }
        if (step == 5)
            peer.send({CMD_CLOSE_FILE, 0xFF}); // inside a frame
        peer.reset();
        scene.expectClean();
    }
}

TEST(FaultInjection, OneBytePerSecondIsServedAndAStalledFrameIsDropped) {
    FaultScene scene(WireLink::Socket);
    WirePeer peer = scene.peer();
    peer.send(tableMessage({textEntry("keep.txt", int32_t(kData.size()))}));
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    // Each byte comes well inside the read time-out, so the open is served.
    peer.sendSlowly(openMessage(0), 1s);
    EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    for (int32_t k = 0; k < 3; ++k) {
        peer.sendBlock(k, blockOf(kData, k));
        expectBlockReply(peer, CMD_BLOCK_OK, k);
    }
    // Half a frame, then silence past the time-out: that frame is dropped and
    // the next one is read from its start.
    peer.send({CMD_CLOSE_FILE, 0xFF});
    EXPECT_EQ(peer.readCommand(3000), 0);
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    peer.close();
    scene.expectClean(kData);
}

TEST(FaultInjection, BlocksOutOfOrderOrBeyondTheFile) {
    FaultScene scene(WireLink::Socket);
    {
        SCOPED_TRACE("every block arrives, out of order, among bad indexes");
        WirePeer peer = scene.peer();
        openKeep(peer);
        peer.sendBlock(2, blockOf(kData, 2));
        expectBlockReply(peer, CMD_BLOCK_OK, 2);
        for (const int32_t bad : {3, 7, -1, INT32_MAX, INT32_MIN}) {
            peer.sendBlock(bad, {}); // beyond the file a block has no data
            expectBlockReply(peer, CMD_BLOCK_BAD, bad);
        }
        peer.sendBlock(0, blockOf(kData, 0));
        expectBlockReply(peer, CMD_BLOCK_OK, 0);
        peer.sendBlock(1, blockOf(kData, 1));
        expectBlockReply(peer, CMD_BLOCK_OK, 1);
        peer.sendCommand(CMD_CLOSE_FILE);
        EXPECT_EQ(peer.readCommand(), CMD_OK);
        peer.close();
        scene.expectClean(kData);
        writeFile(scene.dest() / "keep.txt", kOldContent);
    }
    {
        SCOPED_TRACE("the last blocks arrive, the first never does");
        WirePeer peer = scene.peer();
        openKeep(peer);
        for (const int32_t k : {2, 1, 2}) {
            peer.sendBlock(k, blockOf(kData, k));
            expectBlockReply(peer, CMD_BLOCK_OK, k);
        }
        peer.sendCommand(CMD_CLOSE_FILE);
        EXPECT_EQ(peer.readCommand(), CMD_OK);
        peer.close();
        scene.expectClean();
        EXPECT_EQ(scene.engine().state().FilesDone, 0);
    }
}

TEST(FaultInjection, RepeatedOpensAndCloses) {
    FaultScene scene(WireLink::Socket);
    const Bytes fresh = {'n', 'e', 'w'};
    const Bytes other = {'b', 'b'};
    WirePeer peer = scene.peer();
    peer.sendTable({{"keep.txt", 3}, {"b.txt", 2}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    for (const uint8_t index : {0, 0, 1}) {
        peer.sendOpen(index); // while one is open, nothing changes
        EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    }
    for (int i = 0; i < 3; ++i) {
        peer.sendCommand(CMD_CLOSE_FILE); // the first removes the empty file
        EXPECT_EQ(peer.readCommand(), CMD_OK);
    }
    EXPECT_EQ(readFile(scene.dest() / "keep.txt"), kOldContent);
    peer.sendOpen(0);
    EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, fresh);
    expectBlockReply(peer, CMD_BLOCK_OK, 0);
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(1);
    EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, other);
    expectBlockReply(peer, CMD_BLOCK_OK, 0);
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    EXPECT_TRUE(peer.closedByPeer());
    peer.close();
    scene.expectClean(fresh);
    EXPECT_EQ(readFile(scene.dest() / "b.txt"), other);
    EXPECT_EQ(scene.engine().state().FilesDone, 2);
}
