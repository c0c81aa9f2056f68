// Hostile names in a file table, from a hand-driven peer on either link:
// every one is refused or reduced to a plain name inside the destination,
// and the responder ends idle with nothing written elsewhere.

#include "fault_scene.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class HostileNames : public ::testing::TestWithParam<WireLink> {};

// The serial line is set up once and carries every table; a socket peer
// connects anew for each.
WirePeer connect(FaultScene& scene, bool first) {
    WirePeer peer = scene.peer();
    if (scene.link() == WireLink::Serial && first)
        peer.dial("Caller");
    return peer;
}

// Opens entry 0, sends `data` as its one block and closes it; on the serial
// line the close of the last file also ends the receive dialog.
void sendOpenedFile(FaultScene& scene, WirePeer& peer, const Bytes& data) {
    const bool socket = scene.link() == WireLink::Socket;
    peer.sendOpen(0);
    EXPECT_EQ(peer.readCommand(), socket ? CMD_ACCEPTED : CMD_OK);
    peer.sendBlock(0, data);
    if (socket) {
        int32_t index = -1;
        EXPECT_EQ(peer.readBlockReply(&index), CMD_BLOCK_OK);
        EXPECT_EQ(index, 0);
    } else {
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    }
    // On the serial line the close of the last file also ends the receive.
    scene.closeFile(peer, !socket);
}

} // namespace

TEST_P(HostileNames, AreRefusedOrReducedToAPlainName) {
    FaultScene scene(GetParam(), false);
    const bool socket = GetParam() == WireLink::Socket;
    bool first = true;
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
        WirePeer peer = connect(scene, std::exchange(first, false));
        peer.send(tableMessage({textEntry("fine.txt", 1), unitEntry(units, 1)}));
        EXPECT_EQ(peer.readCommand(), CMD_CANNOT_CREATE) << "name of " << units.size() << " units";
        // A refused table is not kept: its entries cannot be opened.
        peer.sendOpen(0);
        if (socket) {
            EXPECT_EQ(peer.readCommand(500), 0);
            peer.close();
        } else {
            peer.sendCommand(CMD_PING); // no answer to the open, as the ping behind it shows
            EXPECT_EQ(peer.readCommand(), CMD_PING_REPLY);
            EXPECT_TRUE(peer.abortUntilAcknowledged());
        }
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
        WirePeer peer = connect(scene, std::exchange(first, false));
        peer.send(tableMessage({unitEntry(units, 2)}));
        ASSERT_EQ(peer.readCommand(), CMD_OK) << expected;
        sendOpenedFile(scene, peer, ok);
        peer.close();
        scene.expectClean();
        EXPECT_EQ(readFile(scene.dest() / expected), ok) << expected;
    }
}

INSTANTIATE_TEST_SUITE_P(Links, HostileNames, ::testing::Values(WireLink::Socket, WireLink::Serial),
                         wireLinkName);
