// A real serial responder on a pty against peers that fail or misbehave at
// every step of a transfer. Whatever the peer does, the responder ends idle
// with no descriptor kept, nothing written outside its destination, no
// temporary or partial file left and an older file of the same name intact.

#include "fault_scene.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zapfer;
using namespace zapfer::test;
using namespace std::chrono_literals;

namespace {

// Three blocks on any serial type with `blockSize`, the last one short.
Bytes threeBlocks(int32_t blockSize) {
    return randomBytes(size_t(2 * blockSize + 100), uint32_t(blockSize));
}

// A table naming keep.txt with `data`'s size, accepted, and entry 0 opened.
void openKeep(WirePeer& peer, const Bytes& data) {
    peer.sendTable({{"C:\\src\\keep.txt", int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}

void sendBlocks(WirePeer& peer, const Bytes& data, int32_t blockSize,
                std::initializer_list<int32_t> blocks) {
    for (const int32_t k : blocks) {
        peer.sendBlock(k, blockOf(data, k, blockSize));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK) << "block " << k;
    }
}

// A ping answered: the responder has just started reading its next command.
void sync(WirePeer& peer) {
    peer.sendCommand(CMD_PING);
    ASSERT_EQ(peer.readCommand(), CMD_PING_REPLY);
}

// Pings until answered, as a sender's link set-up does; false after `tries`.
bool pingUntilAnswered(WirePeer& peer, int tries = 5) {
    for (int i = 0; i < tries; ++i) {
        peer.sendCommand(CMD_PING);
        if (peer.readCommand(1500) == CMD_PING_REPLY)
            return true;
    }
    return false;
}

} // namespace

TEST(SerialFaults, PeerThatStopsInTheMiddleOfABlock) {
    for (const CommType type : {CommType::Com1, CommType::Usb}) {
        SCOPED_TRACE(std::string(commTypeName(type)));
        FaultScene scene(WireLink::Serial, true, type);
        const int32_t size = scene.blockSize();
        const Bytes data = threeBlocks(size);
        WirePeer peer = scene.peer();
        peer.dial("Caller");
        {
            SCOPED_TRACE("stops, then sends the block again");
            openKeep(peer, data);
            peer.sendBlock(0, blockOf(data, 0, size));
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
            peer.send(slice(blockMessage(1, blockOf(data, 1, size)), 0, 1000));
            // The block's read ends 100 ms after its last byte.
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
            sendBlocks(peer, data, size, {1, 2});
            scene.closeFile(peer, true);
            scene.expectClean(data);
        }
        writeFile(scene.dest() / "keep.txt", kOldContent);
        {
            SCOPED_TRACE("stops for good: the user cancels");
            openKeep(peer, data);
            peer.sendBlock(0, blockOf(data, 0, size));
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
            peer.send(slice(blockMessage(1, blockOf(data, 1, size)), 0, 300));
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
            scene.cancelReceive();
            scene.expectClean();
            EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});
            // A late sender learns of it from the answer to its next message.
            peer.sendBlock(1, blockOf(data, 1, size));
            EXPECT_EQ(peer.readCommand(), CMD_ABORT);
            EXPECT_TRUE(peer.abortUntilAcknowledged());
            scene.expectClean();
        }
    }
}

TEST(SerialFaults, PeerThatVanishesIsDroppedAndTheLineReopens) {
    FaultScene scene(WireLink::Serial);
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    for (const int step : {0, 1, 2}) {
        SCOPED_TRACE(step == 0   ? "after the link set-up"
                     : step == 1 ? "after the table"
                                 : "in the middle of a block");
        WirePeer peer = scene.peer();
        peer.dial("Caller");
        if (step == 1) {
            peer.sendTable({{"keep.txt", int32_t(data.size())}});
            EXPECT_EQ(peer.readCommand(), CMD_OK);
        }
        if (step == 2) {
            openKeep(peer, data);
            peer.sendBlock(0, blockOf(data, 0, size));
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
            peer.send(slice(blockOf(data, 1, size), 0, 2000));
        }
        scene.unplug();
        EXPECT_EQ(scene.engine().linkError().fault, LinkFault::DeviceGone);
        EXPECT_EQ(scene.engine().state().LinkState, LinkState::Listening);
        EXPECT_FALSE(scene.engine().retrySerialPort()) << "the device is still away";
        scene.plugBackIn();
        scene.expectClean();
        EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});

        WirePeer next = scene.peer();
        EXPECT_EQ(next.dial("Next"), nameBlock("Responder"));
    }
    // The line that came back carries a whole transfer.
    WirePeer peer = scene.peer();
    openKeep(peer, data);
    sendBlocks(peer, data, size, {0, 1, 2});
    scene.closeFile(peer, true);
    scene.expectClean(data);
}

TEST(SerialFaults, NewLinkEndsTheTransferOfAPeerThatStartedAgain) {
    FaultScene scene(WireLink::Serial);
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    WirePeer peer = scene.peer();
    peer.dial("Caller");
    openKeep(peer, data);
    sendBlocks(peer, data, size, {0, 1});
    // The sender restarted: it sets the link up again and sends anew.
    EXPECT_EQ(peer.dial("Caller again"), nameBlock("Responder"));
    EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(readFile(scene.dest() / "keep.txt"), kOldContent);
    const Bytes fresh = {'n', 'e', 'w'};
    openKeep(peer, fresh);
    sendBlocks(peer, fresh, size, {0});
    scene.closeFile(peer, true);
    scene.expectClean(fresh);
}

TEST(SerialFaults, SlowBytesAreServedAndStalledOnesDropped) {
    FaultScene scene(WireLink::Serial);
    const Bytes data = {'s', 'l', 'o', 'w'};
    WirePeer peer = scene.peer();
    auto trickle = [&](const Bytes& bytes, std::chrono::milliseconds gap) {
        for (const uint8_t byte : bytes) {
            peer.send({byte});
            std::this_thread::sleep_for(gap);
        }
    };
    // Each byte well inside the 100 ms gap: every message is taken whole.
    // Each trickle starts as a read starts, so that no read's 1 s total
    // time-out falls inside it.
    sync(peer);
    trickle(frameBytes(CMD_PING), 40ms);
    EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
    trickle(frameBytes(CMD_CONNECT), 40ms);
    EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendTable({{"keep.txt", int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    trickle(openMessage(0), 40ms);
    EXPECT_EQ(peer.readCommand(), CMD_OK);

    // Past the gap each byte is read on its own and dropped: no answer, the
    // open file untouched, and the next whole message is served.
    const Bytes block = blockMessage(0, data);
    trickle(slice(block, 0, 6), 250ms);
    EXPECT_EQ(peer.read(4, 300).size(), 0u);
    peer.send(block);
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    scene.closeFile(peer, true);
    scene.expectClean(data);
}

TEST(SerialFaults, BlocksOutOfOrderOrBeyondTheFile) {
    FaultScene scene(WireLink::Serial);
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    WirePeer peer = scene.peer();
    peer.dial("Caller");
    {
        SCOPED_TRACE("every block arrives, after some out of step or beyond the file");
        openKeep(peer, data);
        peer.sendBlock(2, blockOf(data, 2, size)); // neither the last block taken nor the next
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
        for (const int32_t bad : {3, 7, -1, INT32_MAX, INT32_MIN}) {
            peer.sendBlock(bad, {}); // beyond the file a block has no data
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD) << "block " << bad;
        }
        // A whole block of data beyond the file: what the purge missed reads
        // as noise, and the sender's repeats get through.
        peer.sendBlock(3, blockOf(data, 0, size));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
        bool stored = false;
        for (int i = 0; i < 5 && !stored; ++i) {
            peer.sendBlock(0, blockOf(data, 0, size));
            stored = peer.readCommand(1500) == CMD_BLOCK_OK;
        }
        EXPECT_TRUE(stored);
        sendBlocks(peer, data, size, {1, 1, 2});
        scene.closeFile(peer, true);
        scene.expectClean(data);
    }
    writeFile(scene.dest() / "keep.txt", kOldContent);
    {
        SCOPED_TRACE("the last blocks arrive, the first never does");
        openKeep(peer, data);
        sendBlocks(peer, data, size, {1, 2});
        scene.closeFile(peer, true);
        scene.expectClean();
        EXPECT_EQ(scene.engine().state().FilesDone, 0);
        EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});
    }
}

TEST(SerialFaults, RepeatedOpensAndCloses) {
    FaultScene scene(WireLink::Serial);
    const int32_t size = scene.blockSize();
    const Bytes fresh = {'n', 'e', 'w'};
    const Bytes other = {'b', 'b'};
    WirePeer peer = scene.peer();
    peer.dial("Caller");
    peer.sendTable({{"keep.txt", 3}, {"b.txt", 2}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    for (int i = 0; i < 2; ++i) {
        peer.sendOpen(0); // the serial link opens afresh each time
        EXPECT_EQ(peer.readCommand(), CMD_OK);
    }
    peer.sendBlock(0, {'x', 'x', 'x'});
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    peer.sendOpen(0); // drops the block just stored
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    for (int i = 0; i < 3; ++i) {
        peer.sendCommand(CMD_CLOSE_FILE); // the first removes the empty file
        EXPECT_EQ(peer.readCommand(), CMD_OK);
    }
    EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(readFile(scene.dest() / "keep.txt"), kOldContent);
    peer.sendOpen(2); // no such entry: no answer, as the ping behind it shows
    peer.sendCommand(CMD_PING);
    EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);

    peer.sendOpen(0);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    sendBlocks(peer, fresh, size, {0});
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(1);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    sendBlocks(peer, other, size, {0});
    scene.closeFile(peer, true);
    scene.expectClean(fresh);
    EXPECT_EQ(readFile(scene.dest() / "b.txt"), other);
    EXPECT_EQ(scene.engine().state().FilesDone, 2);

    // The table ended with its last close: more closes are answered, opens are not.
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    peer.sendCommand(CMD_PING);
    EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
    scene.expectClean(fresh);
    EXPECT_EQ(listNames(scene.dest()), (std::vector<std::string>{"b.txt", "keep.txt"}));
}

TEST(SerialFaults, GarbageWithMarkerBytesIsDiscarded) {
    FaultScene scene(WireLink::Serial);
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    Bytes garbage = randomBytes(700, 11);
    for (size_t i = 0; i < garbage.size(); i += 37)
        garbage[i] = (i / 37) % 2 ? kFrameMarker : kFrameEnd;
    const Bytes shaped = {0xFF, 0x11, 0xFF, 0x11, 0x00, 0xFF, 0x00, 0x11, 0xC8, 0xFF, 0xC8, 0x11};
    WirePeer peer = scene.peer();
    {
        SCOPED_TRACE("while idle");
        peer.send(garbage);
        peer.send(shaped); // frame-shaped, of no command
        EXPECT_TRUE(pingUntilAnswered(peer));
        scene.expectClean();
    }
    {
        SCOPED_TRACE("in the middle of a file");
        peer.dial("Caller");
        openKeep(peer, data);
        sendBlocks(peer, data, size, {0});
        peer.send(garbage);
        EXPECT_TRUE(pingUntilAnswered(peer));
        sendBlocks(peer, data, size, {1, 2});
        scene.closeFile(peer, true);
        scene.expectClean(data);
    }
}
