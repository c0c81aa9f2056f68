// zapfer-cli receive with each choice for a name that exists, and with an
// accept list, against a real sender over 127.0.0.1. Another loopback
// address (127.0.0.2) stands for a machine that is not listed.

#include "cli_peers.h"
#include "history_rows.h"
#include "network_namespaces.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

using namespace zapfer;
using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kUnlisted = 0x7F000002u; // 127.0.0.2

Receiver receiverWith(const TempDir& dest, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--port", "0", "--echo-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return startReceiver(dest.path(), args);
}

RunResult sendTo(const Receiver& receiver, const std::vector<std::string>& files) {
    std::vector<std::string> args = {"send",        "--to",      "127.0.0.1", "--port",
                                     receiver.port, "--timeout", "20"};
    args.insert(args.end(), files.begin(), files.end());
    return runToEnd(cliCommand(args), 60s);
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Open, one block and close of entry `index` (a small file).
void sendWhole(test::WirePeer& peer, uint8_t index, const std::string& data) {
    peer.sendOpen(index);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, bytesOf(data));
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    ASSERT_EQ(peer.read(4).size(), 4u);
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}

} // namespace

TEST(CliNameConflicts, KeepBothStoresBesideThreeExistingCopiesAndSaysWhere) {
    TempDir source;
    TempDir dest;
    const std::string payload = randomBytes(70000, 21);
    writeFile(source.file("report.txt"), payload);
    writeFile(dest.file("report.txt"), "first");
    writeFile(dest.file("report (2).txt"), "second");
    writeFile(dest.file("report (3).txt"), "third");
    Receiver receiver = receiverWith(dest, {"--on-conflict", "keep-both"});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    const RunResult sent = sendTo(receiver, {source.file("report.txt")});
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_TRUE(receiver.process->waitForLine("report.txt stored as report (4).txt", 20s))
        << receiver.process->out();
    EXPECT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 20s))
        << receiver.process->out();
    EXPECT_TRUE(readFile(dest.file("report (4).txt")) == payload);
    EXPECT_EQ(readFile(dest.file("report.txt")), "first");
    EXPECT_EQ(readFile(dest.file("report (2).txt")), "second");
    EXPECT_EQ(readFile(dest.file("report (3).txt")), "third");
    EXPECT_EQ(listDir(dest.path()).size(), 4u);
}

TEST(CliNameConflicts, KeepBothStoresTwoEntriesOfOneTableSharingAName) {
    TempDir dest;
    writeFile(dest.file("notes"), "existing");
    Receiver receiver = receiverWith(dest, {"--on-conflict", "keep-both"});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    test::WirePeer peer = test::WirePeer::tcp(uint16_t(std::stoi(receiver.port)));
    // Two folders of the sender, one name: both arrive, neither replaces.
    peer.sendTable({{"C:\\a\\notes", 5}, {"C:\\b\\notes", 6}, {"D:\\plan.txt", 4}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    sendWhole(peer, 0, "alpha");
    sendWhole(peer, 1, "bravo!");
    sendWhole(peer, 2, "plan");
    EXPECT_TRUE(receiver.process->waitForLine("3 of 3 files received successfully", 20s))
        << receiver.process->out();
    EXPECT_EQ(readFile(dest.file("notes")), "existing");
    EXPECT_EQ(readFile(dest.file("notes (2)")), "alpha");
    EXPECT_EQ(readFile(dest.file("notes (3)")), "bravo!");
    EXPECT_EQ(readFile(dest.file("plan.txt")), "plan");
    EXPECT_EQ(listDir(dest.path()).size(), 4u);
    const std::string out = receiver.process->out();
    EXPECT_NE(out.find("notes stored as notes (2)"), std::string::npos) << out;
    EXPECT_NE(out.find("notes stored as notes (3)"), std::string::npos) << out;
    EXPECT_EQ(out.find("plan.txt stored as"), std::string::npos) << out;
}

TEST(CliNameConflicts, RefuseAndReplaceBehaveAsBefore) {
    TempDir source;
    writeFile(source.file("same.txt"), "the new one");
    {
        SCOPED_TRACE("refuse: the whole transfer is refused, nothing changes");
        TempDir dest;
        writeFile(dest.file("same.txt"), "the old one");
        Receiver receiver = receiverWith(dest, {"--on-conflict", "refuse"});
        ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
        const RunResult sent = sendTo(receiver, {source.file("same.txt")});
        EXPECT_EQ(sent.status, 1) << sent.out << sent.err;
        EXPECT_NE(sent.err.find("conflict with existing files"), std::string::npos) << sent.err;
        EXPECT_EQ(readFile(dest.file("same.txt")), "the old one");
        EXPECT_EQ(listDir(dest.path()).size(), 1u);
    }
    for (const std::vector<std::string>& choice :
         {std::vector<std::string>{"--on-conflict", "replace"},
          std::vector<std::string>{"--overwrite"}}) {
        SCOPED_TRACE("replace: " + choice.front());
        TempDir dest;
        writeFile(dest.file("same.txt"), "the old one");
        Receiver receiver = receiverWith(dest, choice);
        ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
        const RunResult sent = sendTo(receiver, {source.file("same.txt")});
        ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
        EXPECT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 20s));
        EXPECT_EQ(readFile(dest.file("same.txt")), "the new one");
        EXPECT_EQ(listDir(dest.path()).size(), 1u);
        EXPECT_EQ(receiver.process->out().find("stored as"), std::string::npos);
    }
}

TEST(CliAcceptList, AnUnlistedSenderIsRefusedWithNothingWrittenAndTheRefusalShown) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("one.bin"), randomBytes(1000, 1));
    writeFile(source.file("two.bin"), randomBytes(2048, 2));
    Receiver receiver =
        receiverWith(dest, {"--accept-from", "10.0.0.0/8", "--accept-from", "127.0.0.2"});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    EXPECT_TRUE(
        receiver.process->waitForLine("accepting files only from 10.0.0.0/8 127.0.0.2", 10s))
        << receiver.process->out();

    const RunResult sent = sendTo(receiver, {source.file("one.bin"), source.file("two.bin")});
    EXPECT_EQ(sent.status, 1) << sent.out << sent.err;
    EXPECT_NE(sent.err.find("unable to create the destination file"), std::string::npos)
        << sent.err;
    EXPECT_TRUE(receiver.process->waitForLine("refused 2 files (", 20s)) << receiver.process->out();
    const std::string out = receiver.process->out();
    EXPECT_NE(out.find("from 127.0.0.1: not in the accept list"), std::string::npos) << out;
    EXPECT_EQ(out.find("incoming transfer"), std::string::npos) << out;
    EXPECT_TRUE(listDir(dest.path()).empty());
}

TEST(CliAcceptList, AListedSenderGoesThroughAndANetworkMatchesItsAddressesOnly) {
    TempDir dest;
    // 127.0.0.0/31 holds .0 and .1: the sender (127.0.0.1) is in, 127.0.0.2 is out.
    Receiver receiver = receiverWith(dest, {"--accept-from", "127.0.0.0/31"});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    const uint16_t port = uint16_t(std::stoi(receiver.port));
    {
        test::WirePeer outside = test::WirePeer::tcp(port, kUnlisted);
        ASSERT_TRUE(outside.connected());
        outside.sendTable({{"outside.txt", 3}});
        EXPECT_EQ(outside.readCommand(), CMD_CANNOT_CREATE);
        EXPECT_TRUE(outside.closedByPeer(5000));
    }
    EXPECT_TRUE(receiver.process->waitForLine("refused 1 file (3 B) from 127.0.0.2", 20s))
        << receiver.process->out();

    TempDir source;
    const std::string payload = randomBytes(50000, 3);
    writeFile(source.file("inside.bin"), payload);
    const RunResult sent = sendTo(receiver, {source.file("inside.bin")});
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 20s));
    EXPECT_TRUE(readFile(dest.file("inside.bin")) == payload);
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"inside.bin"});
}

TEST(CliAcceptList, AnUnlistedPeerFloodingTablesCostsNoDiskAndKeepsNobodyOut) {
    TempDir dest, data;
    Receiver receiver = startReceiver(
        dest.path(), {"--port", "0", "--echo-port", "0", "--accept-from", "127.0.0.1"},
        withData(data.path()));
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    const uint16_t port = uint16_t(std::stoi(receiver.port));

    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::thread flooder([&] {
        // Each connection claims 100 files of nearly 2 GiB each.
        std::vector<std::pair<std::string, int32_t>> table;
        for (int i = 0; i < 100; ++i)
            table.emplace_back("big" + std::to_string(i) + ".bin", 0x7FFFFFFF);
        const auto until = std::chrono::steady_clock::now() + 30s;
        for (int n = 0; n < 300 && !stop && std::chrono::steady_clock::now() < until; ++n) {
            test::WirePeer peer = test::WirePeer::tcp(port, kUnlisted);
            if (!peer.connected())
                continue;
            peer.sendTable(table);
            if (peer.readCommand(2000) == CMD_CANNOT_CREATE)
                ++refused;
        }
    });

    TempDir source;
    const std::string payload = randomBytes(200000, 4);
    writeFile(source.file("through.bin"), payload);
    std::this_thread::sleep_for(200ms);
    const RunResult sent = sendTo(receiver, {source.file("through.bin")});
    stop = true;
    flooder.join();
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 20s));
    EXPECT_GT(refused.load(), 0);
    EXPECT_TRUE(readFile(dest.file("through.bin")) == payload);
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"through.bin"});

    // The history holds the transfer and a few of the refusals, not the flood.
    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0);
    const auto rows = readHistory(data.path());
    size_t refusedRows = 0, completed = 0;
    for (const auto& row : rows) {
        if (row.transfer.record.outcome == zapfer::history::TransferOutcome::Refused) {
            ++refusedRows;
            EXPECT_EQ(row.transfer.record.peer, "127.0.0.2");
            EXPECT_EQ(row.transfer.record.refusalCode, 3);
            EXPECT_EQ(row.files.size(), 100u);
        } else if (row.transfer.record.outcome == zapfer::history::TransferOutcome::Completed) {
            ++completed;
            ASSERT_EQ(row.files.size(), 1u);
            EXPECT_EQ(row.files[0].nameStored, "through.bin");
        }
    }
    EXPECT_EQ(completed, 1u);
    EXPECT_GE(refusedRows, 1u);
    EXPECT_LE(refusedRows, 10u) << "of " << refused.load() << " refused tables";
}

TEST(CliAcceptList, AMalformedEntryIsRefusedWithItsName) {
    TempDir dest;
    for (const char* bad : {"300.1.1.1", "10.0.0.0/40", "example.org"}) {
        const RunResult result =
            runToEnd(cliCommand({"receive", "--dest", dest.path(), "--port", "0", "--echo-port",
                                 "0", "--accept-from", bad}),
                     20s);
        EXPECT_EQ(result.status, 2) << bad << result.err;
        EXPECT_NE(result.err.find(std::string("invalid --accept-from '") + bad + "'"),
                  std::string::npos)
            << result.err;
    }
}

// Across two namespaces on the real ports: the sender is 198.18.0.2.
TEST(CliAcceptList, AcrossTwoMachinesDiscoveryAndFilesFollowTheList) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    const NamespacePair namespaces;
    if (!namespaces.ready())
        GTEST_SKIP() << "network namespaces are not available here: " << namespaces.failure();

    TempDir source;
    const std::string payload = randomBytes(60000, 8);
    writeFile(source.file("lan.bin"), payload);
    {
        SCOPED_TRACE("198.18.0.128/25 leaves the sender out: no answer to its probe, no file");
        TempDir dest;
        Receiver receiver = startReceiver(dest.path(), {"--accept-from", "198.18.0.128/25"},
                                          namespaces.inReceiver());
        ASSERT_EQ(receiver.port, "1756") << receiver.process->err();
        const RunResult found =
            runToEnd(cliCommand({"send", "--lan", "--timeout", "3", source.file("lan.bin")},
                                namespaces.inSender()),
                     60s);
        EXPECT_NE(found.status, 0) << found.out << found.err;
        EXPECT_NE(found.err.find("no receiver answered"), std::string::npos) << found.err;

        const RunResult direct = runToEnd(
            cliCommand({"send", "--to", "198.18.0.1", "--timeout", "10", source.file("lan.bin")},
                       namespaces.inSender()),
            60s);
        EXPECT_EQ(direct.status, 1) << direct.out << direct.err;
        EXPECT_TRUE(receiver.process->waitForLine("refused 1 file (", 20s))
            << receiver.process->out();
        EXPECT_NE(receiver.process->out().find("from 198.18.0.2: not in the accept list"),
                  std::string::npos);
        EXPECT_TRUE(listDir(dest.path()).empty());
        receiver.process->signal(SIGTERM);
        EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
    }
    {
        SCOPED_TRACE("198.18.0.0/30 holds the sender: found by broadcast, file stored");
        TempDir dest;
        Receiver receiver =
            startReceiver(dest.path(), {"--accept-from", "198.18.0.0/30"}, namespaces.inReceiver());
        ASSERT_EQ(receiver.port, "1756") << receiver.process->err();
        expectSentOverLan(namespaces, receiver, source.file("lan.bin"), dest.path(), "lan.bin",
                          payload);
        receiver.process->signal(SIGTERM);
        EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
    }
}
