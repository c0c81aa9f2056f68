// A real serial responder on a pty against peers that fail or misbehave at
// every step of a transfer. Whatever the peer does, the responder ends idle
// with no descriptor kept, nothing written outside its destination, no
// temporary or partial file left and an older file of the same name intact.

#include "serial_fault_scene.h"

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

Bytes blockOf(const Bytes& data, int32_t k, int32_t blockSize) {
    const size_t begin = std::min(data.size(), size_t(k) * size_t(blockSize));
    const size_t end = std::min(data.size(), begin + size_t(blockSize));
    return Bytes(data.begin() + long(begin), data.begin() + long(end));
}

Bytes frame(uint8_t code) {
    const Frame f = BuildFrame(code);
    return {f.begin(), f.end()};
}

// A table naming keep.txt with `data`'s size, accepted, and entry 0 opened.
void openKeep(SerialPeer& peer, const Bytes& data) {
    peer.sendTable({{"C:\\src\\keep.txt", int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}

void sendBlocks(SerialPeer& peer, const Bytes& data, int32_t blockSize,
                std::initializer_list<int32_t> blocks) {
    for (const int32_t k : blocks) {
        peer.sendBlock(k, blockOf(data, k, blockSize));
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK) << "block " << k;
    }
}

void closeLast(SerialFaultScene& scene, SerialPeer& peer) {
    RecordingEvents& events = scene.responder.events;
    int before;
    {
        std::lock_guard lock(events.mutex);
        before = events.statusClosed;
    }
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    EXPECT_TRUE(events.waitUntil([&] { return events.statusClosed > before; }));
}

// The sender's end of a refused or broken transfer: CMD_ABORT until it is
// acknowledged, at most a few times.
void abortExchange(SerialPeer& peer) {
    bool acknowledged = false;
    for (int i = 0; i < 5 && !acknowledged; ++i) {
        peer.sendCommand(CMD_ABORT);
        acknowledged = peer.readCommand(1500) == CMD_ACCEPTED;
    }
    EXPECT_TRUE(acknowledged);
}

// A ping answered: the responder has just started reading its next command.
void sync(SerialPeer& peer) {
    peer.sendCommand(CMD_PING);
    ASSERT_EQ(peer.readCommand(), CMD_PING_REPLY);
}

// Pings until answered, as a sender's link set-up does; false after `tries`.
bool pingUntilAnswered(SerialPeer& peer, int tries = 5) {
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
        SerialFaultScene scene(true, type);
        const int32_t size = scene.blockSize();
        const Bytes data = threeBlocks(size);
        SerialPeer peer = scene.peer();
        peer.dial("Caller");
        {
            SCOPED_TRACE("stops, then sends the block again");
            openKeep(peer, data);
            peer.sendBlock(0, blockOf(data, 0, size));
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
            Bytes cut(kBlockHeaderSize + size_t(size));
            BuildBlockMessage(1, blockOf(data, 1, size), cut);
            cut.resize(1000);
            peer.send(cut);
            // The block's read ends 100 ms after its last byte.
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
            sendBlocks(peer, data, size, {1, 2});
            closeLast(scene, peer);
            scene.expectClean(data);
        }
        writeFile(scene.dest() / "keep.txt", kOldContent);
        {
            SCOPED_TRACE("stops for good: the user cancels");
            openKeep(peer, data);
            peer.sendBlock(0, blockOf(data, 0, size));
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
            Bytes cut(kBlockHeaderSize + size_t(size));
            BuildBlockMessage(1, blockOf(data, 1, size), cut);
            peer.send(slice(cut, 0, 300));
            EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
            scene.cancelReceive();
            scene.expectClean();
            EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});
            // A late sender learns of it from the answer to its next message.
            peer.sendBlock(1, blockOf(data, 1, size));
            EXPECT_EQ(peer.readCommand(), CMD_ABORT);
            abortExchange(peer);
            scene.expectClean();
        }
    }
}

TEST(SerialFaults, PeerThatVanishesIsDroppedAndTheLineReopens) {
    SerialFaultScene scene;
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    for (const int step : {0, 1, 2}) {
        SCOPED_TRACE(step == 0   ? "after the link set-up"
                     : step == 1 ? "after the table"
                                 : "in the middle of a block");
        SerialPeer peer = scene.peer();
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

        SerialPeer next = scene.peer();
        EXPECT_EQ(next.dial("Next"), nameBlock("Responder"));
    }
    // The line that came back carries a whole transfer.
    SerialPeer peer = scene.peer();
    openKeep(peer, data);
    sendBlocks(peer, data, size, {0, 1, 2});
    closeLast(scene, peer);
    scene.expectClean(data);
}

TEST(SerialFaults, NewLinkEndsTheTransferOfAPeerThatStartedAgain) {
    SerialFaultScene scene;
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    SerialPeer peer = scene.peer();
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
    closeLast(scene, peer);
    scene.expectClean(fresh);
}

TEST(SerialFaults, SlowBytesAreServedAndStalledOnesDropped) {
    SerialFaultScene scene;
    const Bytes data = {'s', 'l', 'o', 'w'};
    SerialPeer peer = scene.peer();
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
    trickle(frame(CMD_PING), 40ms);
    EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
    trickle(frame(CMD_CONNECT), 40ms);
    EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendTable({{"keep.txt", int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    const auto open = BuildOpenMessage(0);
    trickle({open.begin(), open.end()}, 40ms);
    EXPECT_EQ(peer.readCommand(), CMD_OK);

    // Past the gap each byte is read on its own and dropped: no answer, the
    // open file untouched, and the next whole message is served.
    Bytes block(kBlockHeaderSize + data.size());
    BuildBlockMessage(0, data, block);
    trickle(slice(block, 0, 6), 250ms);
    EXPECT_EQ(peer.read(4, 300).size(), 0u);
    peer.send(block);
    EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    closeLast(scene, peer);
    scene.expectClean(data);
}

TEST(SerialFaults, BlocksOutOfOrderOrBeyondTheFile) {
    SerialFaultScene scene;
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    SerialPeer peer = scene.peer();
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
        closeLast(scene, peer);
        scene.expectClean(data);
    }
    writeFile(scene.dest() / "keep.txt", kOldContent);
    {
        SCOPED_TRACE("the last blocks arrive, the first never does");
        openKeep(peer, data);
        sendBlocks(peer, data, size, {1, 2});
        closeLast(scene, peer);
        scene.expectClean();
        EXPECT_EQ(scene.engine().state().FilesDone, 0);
        EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});
    }
}

TEST(SerialFaults, RepeatedOpensAndCloses) {
    SerialFaultScene scene;
    const int32_t size = scene.blockSize();
    const Bytes fresh = {'n', 'e', 'w'};
    const Bytes other = {'b', 'b'};
    SerialPeer peer = scene.peer();
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
    closeLast(scene, peer);
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
    SerialFaultScene scene;
    const int32_t size = scene.blockSize();
    const Bytes data = threeBlocks(size);
    Bytes garbage = randomBytes(700, 11);
    for (size_t i = 0; i < garbage.size(); i += 37)
        garbage[i] = (i / 37) % 2 ? kFrameMarker : kFrameEnd;
    const Bytes shaped = {0xFF, 0x11, 0xFF, 0x11, 0x00, 0xFF, 0x00, 0x11, 0xC8, 0xFF, 0xC8, 0x11};
    SerialPeer peer = scene.peer();
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
        closeLast(scene, peer);
        scene.expectClean(data);
    }
}

TEST(SerialFaults, HostileNames) {
    SerialFaultScene scene(false);
    const int32_t size = scene.blockSize();
    SerialPeer peer = scene.peer();
    peer.dial("Caller");
    const std::vector<std::vector<uint16_t>> refused = {
        {'.', '.'},
        {'.'},
        {'/'},
        {'\\'},
        {'a', '\\', '.', '.'},
        {'x', '/'},
        {'c', 1, 'd'},
        {'e', 0x1B, '[', 'm'},
        {'d', 'e', 'l', 0x7F},
        {0x100, 'a'}, // a unit above 255 first: an empty name
    };
    for (const auto& units : refused) {
        std::vector<uint8_t> table;
        for (const EntryBytes& entry : {unitEntry({'f', 'i', 'n', 'e'}, 1), unitEntry(units, 1)})
            table.insert(table.end(), entry.begin(), entry.end());
        Bytes message(kTableHeaderSize + table.size());
        BuildFileTableMessage(table, message);
        peer.send(message);
        EXPECT_EQ(peer.readCommand(), CMD_CANNOT_CREATE) << "name of " << units.size() << " units";
        peer.sendOpen(0); // a refused table is not kept: no answer, as the ping shows
        peer.sendCommand(CMD_PING);
        EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
        abortExchange(peer);
        scene.expectClean();
    }
    EXPECT_EQ(listNames(scene.dest()), std::vector<std::string>{"keep.txt"});

    // Accepted, reduced to what may be created in the destination.
    const std::string longest(125, 'n');
    std::vector<uint16_t> wide = {'a', 'b', 'c', 0x100, 'd', 'e', 'f'}; // ends at the 0x100
    std::vector<uint16_t> path = {'.', '.', '\\', '.', '.', '/'};
    for (const char c : std::string("outside.txt"))
        path.push_back(uint16_t(c));
    std::vector<uint16_t> full(126, 'f'); // no terminator at all
    const std::vector<std::pair<std::vector<uint16_t>, std::string>> accepted = {
        {std::vector<uint16_t>(longest.begin(), longest.end()), longest},
        {wide, "abc"},
        {path, "outside.txt"},
        {full, std::string(126, 'f')},
    };
    const Bytes ok = {'o', 'k'};
    for (const auto& [units, expected] : accepted) {
        const EntryBytes entry = unitEntry(units, 2);
        Bytes message(kTableHeaderSize + entry.size());
        BuildFileTableMessage(entry, message);
        peer.send(message);
        ASSERT_EQ(peer.readCommand(), CMD_OK) << expected;
        peer.sendOpen(0);
        EXPECT_EQ(peer.readCommand(), CMD_OK);
        sendBlocks(peer, ok, size, {0});
        closeLast(scene, peer);
        scene.expectClean();
        EXPECT_EQ(readFile(scene.dest() / expected), ok) << expected;
    }
}
