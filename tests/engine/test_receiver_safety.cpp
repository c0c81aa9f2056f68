// A responder fed by a hand-driven peer: hostile names, protocol misuse and
// lost connections never write outside the destination, never leave a
// partial file, and always bring the responder back to Listening.

#include "engine_harness.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <sys/statvfs.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
bool backToListening(Responder& responder) {
    return responder.events.waitUntil(
        [&] { return responder.engine.state().LinkState == LinkState::Listening; });
}

// Sends a one-file transfer of `data` under `name` through `peer`.
void sendWholeFile(WirePeer& peer, const std::string& name, const std::vector<uint8_t>& data) {
    peer.sendTable({{name, int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK) << name;
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    for (int32_t k = 0; k < FileBlocks(Dialect::Stream, int64_t(data.size()), 32768); ++k) {
        const size_t begin = size_t(k) * 32768;
        const size_t end = std::min(data.size(), begin + 32768);
        peer.sendBlock(k,
                       std::vector<uint8_t>(data.begin() + long(begin), data.begin() + long(end)));
        ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        ASSERT_EQ(peer.read(4).size(), 4u);
    }
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}
} // namespace

TEST(ReceiverSafety, PathsAreReducedToPlainNamesInsideTheDestination) {
    TempDir root;
    fs::create_directories(root / "dest");
    Responder responder(root / "dest");
    const std::vector<uint8_t> data = {'h', 'i'};
    for (const std::string name : {"..\\..\\x", "/etc/passwd", "a/../../b", "C:\\Temp\\c"}) {
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        sendWholeFile(peer, name, data);
        ASSERT_TRUE(backToListening(responder));
        responder.engine.finishReceive();
    }
    EXPECT_EQ(listNames(root / "dest"), (std::vector<std::string>{"b", "c", "passwd", "x"}));
    EXPECT_EQ(listNames(root.path()), std::vector<std::string>{"dest"});
}

TEST(ReceiverSafety, UnusableNamesRefuseTheWholeTable) {
    TempDir dest;
    Responder responder(dest.path());
    for (const std::string& name :
         {std::string(""), std::string("."), std::string(".."), std::string("dir\\"),
          std::string("tab\there"), std::string("new\nline")}) {
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        peer.sendTable({{"fine.txt", 3}, {name, 3}});
        EXPECT_EQ(peer.readCommand(), CMD_CANNOT_CREATE) << "name: " << name;
        // Opening an entry of the refused table writes nothing and gets no answer.
        peer.sendOpen(0);
        EXPECT_EQ(peer.readCommand(500), 0);
    }
    EXPECT_TRUE(listNames(dest.path()).empty());
    EXPECT_EQ(responder.events.incoming, 0);
}

TEST(ReceiverSafety, NoTableNoFile) {
    TempDir dest;
    writeFile(dest / "keep.txt", {'o', 'l', 'd'});
    Responder responder(dest.path());
    {
        SCOPED_TRACE("open after a name-conflict refusal");
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        peer.sendTable({{"keep.txt", 3}});
        ASSERT_EQ(peer.readCommand(), CMD_NAME_CONFLICT);
        peer.sendOpen(0);
        EXPECT_EQ(peer.readCommand(500), 0);
        peer.sendBlock(0, {'n', 'e', 'w'});
        EXPECT_EQ(peer.readCommand(), CMD_BLOCK_BAD);
    }
    {
        SCOPED_TRACE("a table accepted on one connection is gone on the next");
        WirePeer first = WirePeer::tcp(responder.engine.listenPort());
        first.sendTable({{"other.txt", 3}});
        ASSERT_EQ(first.readCommand(), CMD_OK);
        first.close();
        ASSERT_TRUE(backToListening(responder));
        responder.engine.finishReceive();
        WirePeer second = WirePeer::tcp(responder.engine.listenPort());
        second.sendOpen(0);
        EXPECT_EQ(second.readCommand(500), 0);
    }
    EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(readFile(dest / "keep.txt"), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST(ReceiverSafety, SymbolicLinkAtTheDestinationIsNotFollowed) {
    TempDir root;
    fs::create_directories(root / "dest");
    writeFile(root / "target.txt", {'s', 'a', 'f', 'e'});
    fs::create_symlink(root / "target.txt", root / "dest" / "link.txt");
    {
        Responder responder(root / "dest");
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        peer.sendTable({{"link.txt", 3}});
        EXPECT_EQ(peer.readCommand(), CMD_NAME_CONFLICT) << "a link counts as an existing name";
    }
    {
        Responder responder(root / "dest", /*overwrite*/ true);
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        sendWholeFile(peer, "link.txt", {'n', 'e', 'w'});
    }
    EXPECT_EQ(readFile(root / "target.txt"), (std::vector<uint8_t>{'s', 'a', 'f', 'e'}));
    EXPECT_FALSE(fs::is_symlink(root / "dest" / "link.txt"));
    EXPECT_EQ(readFile(root / "dest" / "link.txt"), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

TEST(ReceiverSafety, SizesThatWrapThirtyTwoBitsAreRefusedForSpace) {
    TempDir dest;
    // 98 entries of 2^31 - 1 and two of 49 sum to 0 in 32 bits, about 210 GB in 64.
    std::vector<std::pair<std::string, int32_t>> entries;
    for (int i = 0; i < 98; ++i)
        entries.push_back({"big" + std::to_string(i), kMaxFileSize});
    entries.push_back({"small1", 49});
    entries.push_back({"small2", 49});
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(dest.path().c_str(), &vfs), 0);
    if (uint64_t(vfs.f_bavail) * vfs.f_frsize > 98ull * uint64_t(kMaxFileSize))
        GTEST_SKIP() << "this file system has room for the whole table";
    Responder responder(dest.path());
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    peer.sendTable(entries);
    EXPECT_EQ(peer.readCommand(), CMD_NO_SPACE);
    EXPECT_TRUE(listNames(dest.path()).empty());
}

TEST(ReceiverSafety, BadTablesAreAnsweredBadTable) {
    TempDir dest;
    Responder responder(dest.path());
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    peer.sendTable({{"a", 1}}, /*crcDelta*/ 1);
    EXPECT_EQ(peer.readCommand(), CMD_BAD_TABLE);
    // A count above 100 is refused whatever follows.
    std::vector<uint8_t> message = {CMD_FILE_TABLE, 0xFF, CMD_FILE_TABLE, 0x11, 101, 0, 0, 0, 0};
    message.resize(message.size() + 101 * 256);
    peer.send(message);
    EXPECT_EQ(peer.readCommand(), CMD_BAD_TABLE);
    // The link is still in step: a good table is accepted afterwards.
    peer.sendTable({{"a", 1}});
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    EXPECT_TRUE(responder.events.waitUntil([&] { return responder.events.incoming == 1; }));
}

TEST(ReceiverSafety, LostConnectionsLeaveNoPartialFile) {
    TempDir dest;
    writeFile(dest / "data.bin", {'o', 'l', 'd'});
    Responder responder(dest.path(), /*overwrite*/ true);
    {
        SCOPED_TRACE("closed in the middle of a file");
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        peer.sendTable({{"data.bin", 100000}});
        ASSERT_EQ(peer.readCommand(), CMD_OK);
        peer.sendOpen(0);
        ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
        peer.sendBlock(0, randomBytes(32768, 1));
        ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        peer.close();
        ASSERT_TRUE(backToListening(responder));
        EXPECT_TRUE(responder.engine.finishReceive().aborted);
    }
    {
        SCOPED_TRACE("closed half-way through a block");
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        peer.sendTable({{"data.bin", 100000}});
        ASSERT_EQ(peer.readCommand(), CMD_OK);
        peer.sendOpen(0);
        ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
        std::vector<uint8_t> block(12 + 32768);
        BuildBlockMessage(0, randomBytes(32768, 2), block);
        block.resize(5000);
        peer.send(block);
        peer.close();
        ASSERT_TRUE(backToListening(responder));
    }
    {
        SCOPED_TRACE("closed with every block but the first");
        WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
        peer.sendTable({{"data.bin", 40000}});
        ASSERT_EQ(peer.readCommand(), CMD_OK);
        peer.sendOpen(0);
        ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
        peer.sendBlock(1, randomBytes(40000 - 32768, 3));
        ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        peer.read(4);
        peer.sendCommand(CMD_CLOSE_FILE);
        EXPECT_EQ(peer.readCommand(), CMD_OK);
        EXPECT_TRUE(peer.closedByPeer()) << "the last close ends the transfer";
        EXPECT_EQ(responder.engine.finishReceive().filesDone, 0) << "block 0 never arrived";
    }
    EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"data.bin"});
    EXPECT_EQ(readFile(dest / "data.bin"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(responder.engine.state().ReceiveEnabled, 1);
}

TEST(ReceiverSafety, AbortFromThePeerIsAcknowledged) {
    TempDir dest;
    Responder responder(dest.path());
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    peer.sendTable({{"x", 70000}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendCommand(CMD_ABORT);
    EXPECT_EQ(peer.readCommand(), CMD_ACCEPTED);
    EXPECT_TRUE(peer.closedByPeer());
    ASSERT_TRUE(backToListening(responder));
    EXPECT_TRUE(responder.engine.finishReceive().aborted);
    EXPECT_TRUE(listNames(dest.path()).empty());
    EXPECT_EQ(responder.engine.state().AbortFlag, 0);
}

TEST(ReceiverSafety, TwoEntriesWithOneNameTheLaterWins) {
    TempDir dest;
    Responder responder(dest.path());
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    peer.sendTable({{"C:\\one\\same.txt", 1}, {"C:\\two\\same.txt", 1}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    for (uint8_t i = 0; i < 2; ++i) {
        peer.sendOpen(i);
        ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
        peer.sendBlock(0, {uint8_t('1' + i)});
        ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        peer.read(4);
        peer.sendCommand(CMD_CLOSE_FILE);
        ASSERT_EQ(peer.readCommand(), CMD_OK);
    }
    EXPECT_EQ(responder.engine.finishReceive().filesDone, 2);
    EXPECT_EQ(readFile(dest / "same.txt"), std::vector<uint8_t>{'2'});
}

TEST(ReceiverSafety, TwoTablesOnOneConnectionAreCountedTogether) {
    TempDir dest;
    Responder responder(dest.path());
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    peer.sendTable({{"first.txt", 1}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, {'1'});
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    peer.read(4);
    // The close of the table's last file and the next table in one write:
    // both are served before the connection would end.
    std::vector<uint8_t> closeAndTable;
    const Frame close = BuildFrame(CMD_CLOSE_FILE);
    closeAndTable.insert(closeAndTable.end(), close.begin(), close.end());
    const EntryBytes entry = textEntry("second.txt", 1);
    std::vector<uint8_t> table(kTableHeaderSize + kEntrySize);
    BuildFileTableMessage(entry, table);
    closeAndTable.insert(closeAndTable.end(), table.begin(), table.end());
    const auto open = BuildOpenMessage(0);
    closeAndTable.insert(closeAndTable.end(), open.begin(), open.end());
    peer.send(closeAndTable);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, {'2'});
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    peer.read(4);
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    EXPECT_TRUE(peer.closedByPeer());
    ASSERT_TRUE(backToListening(responder));

    const ReceiveOutcome outcome = responder.engine.finishReceive();
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.fileCount, 2);
    ASSERT_EQ(outcome.files.size(), 2u);
    EXPECT_EQ(outcome.files[0].nameAsStored, "first.txt");
    EXPECT_EQ(outcome.files[0].result, FileResult::Stored);
    EXPECT_EQ(outcome.files[1].nameAsStored, "second.txt");
    EXPECT_EQ(outcome.files[1].result, FileResult::Stored);
    EXPECT_EQ(listNames(dest.path()), (std::vector<std::string>{"first.txt", "second.txt"}));
}
