// Two zapfer-cli processes record their transfers, each in its own history:
// the rows on both sides, and the whole-file CRC-32 of each file against
// zlib's crc32 of the file on disk. A history that cannot be written never
// fails a transfer and is said once.

#include "cli_peers.h"
#include "history_rows.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <filesystem>

using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> sendTo(const Receiver& receiver, const std::string& dataHome,
                                std::vector<std::string> files) {
    std::vector<std::string> args = {"send",        "--to",      "127.0.0.1", "--port",
                                     receiver.port, "--timeout", "20"};
    args.insert(args.end(), files.begin(), files.end());
    return cliCommand(args, withData(dataHome));
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

// Three files, the last cut off by the receiver's Ctrl+C; then the same files
// again, refused for their names.
TEST(CliTransferHistory, BothSidesRecordTheFilesWithAgreeingChecksums) {
    TempDir source, dest, senderData, receiverData;
    const std::string a = randomBytes(100001, 5);
    const std::string b = "a short note\n";
    writeFile(source.file("a.bin"), a);
    writeFile(source.file("b.txt"), b);
    // Large and sparse: still arriving when the receiver is stopped.
    writeFile(source.file("large.bin"), "");
    std::filesystem::resize_file(source.file("large.bin"), 256u << 20);
    const std::vector<std::string> paths = {source.file("a.bin"), source.file("b.txt"),
                                            source.file("large.bin")};
    {
        Receiver receiver = startReceiver(dest.path(), {"--port", "0", "--echo-port", "0"},
                                          withData(receiverData.path()));
        ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
        ChildProcess sender(sendTo(receiver, senderData.path(), paths));
        ASSERT_TRUE(receiver.process->waitForLine("receiving large.bin", 30s))
            << receiver.process->out() << receiver.process->err();
        receiver.process->signal(SIGINT);
        ASSERT_EQ(sender.waitExit(60s), 1) << sender.out() << sender.err();
        EXPECT_EQ(receiver.process->waitExit(30s), 0) << receiver.process->err();
        // Each completed file's checksum is printed as it completes, alike on both sides.
        char line[64];
        std::snprintf(line, sizeof line, "a.bin (CRC-32 %08x)", zlibCrc(a));
        EXPECT_NE(sender.out().find(std::string("sent ") + line), std::string::npos)
            << sender.out();
        EXPECT_NE(receiver.process->out().find(std::string("received ") + line), std::string::npos)
            << receiver.process->out();
        EXPECT_EQ(sender.err().find("history"), std::string::npos) << sender.err();
    }

    const auto sent = readHistory(senderData.path());
    const auto received = readHistory(receiverData.path());
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(received.size(), 1u);
    const auto& s = sent[0];
    const auto& r = received[0];
    EXPECT_EQ(s.transfer.record.direction, history::Direction::Sent);
    EXPECT_EQ(r.transfer.record.direction, history::Direction::Received);
    EXPECT_EQ(s.transfer.record.outcome, history::TransferOutcome::Aborted);
    EXPECT_EQ(r.transfer.record.outcome, history::TransferOutcome::Aborted);
    EXPECT_EQ(s.transfer.record.peer, "127.0.0.1");
    EXPECT_EQ(r.transfer.record.peer, "127.0.0.1");
    EXPECT_EQ(s.transfer.record.link, "wan");
    EXPECT_EQ(r.transfer.record.link, "lan");
    EXPECT_LE(s.transfer.record.startedMs, s.transfer.record.endedMs);
    ASSERT_EQ(s.files.size(), 3u);
    ASSERT_EQ(r.files.size(), 3u);
    EXPECT_EQ(s.files[0].nameSent, source.file("a.bin"));
    EXPECT_EQ(s.files[0].result, history::FileResult::Sent);
    EXPECT_EQ(s.files[1].result, history::FileResult::Sent);
    EXPECT_EQ(s.files[2].result, history::FileResult::Aborted);
    EXPECT_EQ(s.files[2].crc32, std::nullopt);
    EXPECT_EQ(r.files[0].nameStored, "a.bin");
    EXPECT_EQ(r.files[1].nameStored, "b.txt");
    EXPECT_EQ(r.files[0].result, history::FileResult::Stored);
    EXPECT_EQ(r.files[1].result, history::FileResult::Stored);
    EXPECT_EQ(r.files[2].result, history::FileResult::Aborted);
    EXPECT_EQ(r.files[2].crc32, std::nullopt);
    EXPECT_EQ(r.files[0].bytesDone, a.size());
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(r.files[i].nameStored);
        const uint32_t onDisk = zlibCrc(readFile(dest.file(r.files[i].nameStored)));
        EXPECT_EQ(r.files[i].crc32, onDisk);
        EXPECT_EQ(s.files[i].crc32, r.files[i].crc32);
    }

    // The same names again: the receiver refuses the table, and both sides
    // record the refusal with its code.
    Receiver receiver = startReceiver(dest.path(), {"--port", "0", "--echo-port", "0"},
                                      withData(receiverData.path()));
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    const RunResult refused = runToEnd(sendTo(receiver, senderData.path(), paths), 120s);
    EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0);
    const auto after = readHistory(senderData.path());
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].transfer.record.outcome, history::TransferOutcome::Refused);
    EXPECT_EQ(after[0].transfer.record.refusalCode, 2);
    ASSERT_EQ(after[0].files.size(), 3u);
    for (const auto& file : after[0].files)
        EXPECT_EQ(file.result, history::FileResult::Refused);
    EXPECT_EQ(after[0].transfer.failedFileCount, 3);
    EXPECT_EQ(after[0].transfer.record.peer, "127.0.0.1");
    const auto refusedHere = readHistory(receiverData.path());
    ASSERT_EQ(refusedHere.size(), 2u);
    const auto& rr = refusedHere[0];
    EXPECT_EQ(rr.transfer.record.direction, history::Direction::Received);
    EXPECT_EQ(rr.transfer.record.outcome, history::TransferOutcome::Refused);
    EXPECT_EQ(rr.transfer.record.refusalCode, 2);
    EXPECT_EQ(rr.transfer.record.peer, "127.0.0.1");
    EXPECT_EQ(rr.transfer.record.link, "lan");
    EXPECT_EQ(rr.transfer.record.bytes, 0u);
    ASSERT_EQ(rr.files.size(), 3u);
    // As the sender named them: the whole path.
    EXPECT_TRUE(rr.files[0].nameSent.ends_with("\\a.bin")) << rr.files[0].nameSent;
    EXPECT_TRUE(rr.files[1].nameSent.ends_with("\\b.txt")) << rr.files[1].nameSent;
    EXPECT_TRUE(rr.files[2].nameSent.ends_with("\\large.bin")) << rr.files[2].nameSent;
    EXPECT_EQ(rr.files[0].size, a.size());
    EXPECT_EQ(rr.files[2].size, 256u << 20);
    for (const auto& file : rr.files) {
        EXPECT_EQ(file.result, history::FileResult::Refused);
        EXPECT_EQ(file.nameStored, "");
        EXPECT_EQ(file.crc32, std::nullopt);
    }
    // The earlier, real receive is still there as it was.
    EXPECT_EQ(refusedHere[1].transfer.record.outcome, history::TransferOutcome::Aborted);
}

// Missing (its folder cannot be made), read-only and corrupt histories: each
// transfer goes through, and the problem is said once by each process
// however many transfers it makes.
TEST(CliTransferHistory, BrokenHistoriesNeverFailATransferAndAreSaidOnce) {
    // Root writes whatever the modes say: it gets a read-only mount of the
    // history's folder, in a mount namespace of its own.
    const bool root = ::geteuid() == 0;
    TempDir source, work;
    writeFile(source.file("x.txt"), "x");
    writeFile(source.file("y.txt"), "y");
    enum class Kind { Missing, ReadOnly, Corrupt };
    // A data home whose history is broken in the way of `kind`.
    const auto prepare = [&](Kind kind, const std::string& name) {
        const std::string home = work.file(name);
        const std::string folder = home + "/Quorvel/Zapfer";
        if (kind == Kind::Missing) {
            // XDG_DATA_HOME is a file: no folder can be made under it.
            writeFile(home, "not a folder");
        } else if (kind == Kind::ReadOnly) {
            std::filesystem::create_directories(folder);
            auto store = history::HistoryStore::open(historyPath(home));
            EXPECT_TRUE(store.ok());
            if (!root) {
                std::filesystem::permissions(historyPath(home), std::filesystem::perms::owner_read);
                std::filesystem::permissions(folder, std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
            }
        } else {
            std::filesystem::create_directories(folder);
            writeFile(historyPath(home), std::string(8192, 'z'));
        }
        return home;
    };
    const auto prefixFor = [&](Kind kind, const std::string& home) {
        std::vector<std::string> prefix;
        if (kind == Kind::ReadOnly && root)
            prefix = {"unshare",
                      "-m",
                      "--propagation",
                      "private",
                      "sh",
                      "-c",
                      "d=$1; shift; mount --bind \"$d\" \"$d\" && "
                      "mount -o remount,bind,ro \"$d\" \"$d\" && exec \"$@\"",
                      "sh",
                      home + "/Quorvel/Zapfer"};
        const auto data = withData(home);
        prefix.insert(prefix.end(), data.begin(), data.end());
        return prefix;
    };
    const std::string notRecorded = "transfers are not recorded in the history";
    const struct {
        Kind kind;
        std::string name, said;
    } cases[] = {
        {Kind::Missing, "missing", notRecorded},
        {Kind::ReadOnly, "readonly", notRecorded},
        {Kind::Corrupt, "corrupt", "was damaged; it was moved aside"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string receiverHome = prepare(c.kind, c.name + "-receiver");
        const std::string senderHome = prepare(c.kind, c.name + "-sender");
        TempDir into;
        Receiver receiver = startReceiver(into.path(), {"--port", "0", "--echo-port", "0"},
                                          prefixFor(c.kind, receiverHome));
        ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
        int send = 0;
        for (const std::string name : {"x.txt", "y.txt"}) {
            std::vector<std::string> args = {"send",   "--to",           "127.0.0.1",
                                             "--port", receiver.port,    "--timeout",
                                             "20",     source.file(name)};
            const RunResult sent = runToEnd(cliCommand(args, prefixFor(c.kind, senderHome)), 60s);
            EXPECT_EQ(sent.status, 0) << sent.out << sent.err;
            // A corrupt history is moved aside once; the next sender finds a good one.
            const size_t expected = c.kind == Kind::Corrupt && send > 0 ? 0u : 1u;
            EXPECT_EQ(count(sent.err, c.said), expected) << sent.err;
            ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received", 30s));
            ++send;
        }
        EXPECT_EQ(readFile(into.file("y.txt")), "y");
        receiver.process->signal(SIGTERM);
        EXPECT_EQ(receiver.process->waitExit(20s), 0);
        // Two receives, one word of the problem.
        EXPECT_EQ(count(receiver.process->err(), c.said), 1u) << receiver.process->err();
        if (c.kind == Kind::Corrupt) {
            EXPECT_EQ(readHistory(receiverHome).size(), 2u);
            EXPECT_EQ(readHistory(senderHome).size(), 2u);
        }
        if (c.kind == Kind::ReadOnly) {
            for (const auto& home : {receiverHome, senderHome}) {
                if (!root)
                    std::filesystem::permissions(home + "/Quorvel/Zapfer",
                                                 std::filesystem::perms::owner_all);
                EXPECT_EQ(readHistory(home).size(), 0u) << "nothing was written";
            }
        }
    }
}
