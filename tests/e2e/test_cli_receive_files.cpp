// zapfer-cli receive and the files in its destination: another local process
// racing it cannot get its own file committed, a file that cannot be
// committed is not reported as received, and nothing half-written outlives a
// receiver.

#include "cli_peers.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

using namespace zapfer;
using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

uint16_t portOf(const Receiver& receiver) {
    return uint16_t(std::stoi(receiver.port));
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Table, open and every block of `data` as `name`; the close is the caller's.
void sendAllButTheClose(test::WirePeer& peer, const std::string& name, const std::string& data,
                        std::chrono::milliseconds betweenBlocks = 0ms) {
    peer.sendTable({{name, int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    for (size_t k = 0; k * 32768 < data.size(); ++k) {
        std::this_thread::sleep_for(betweenBlocks);
        const std::string block = data.substr(k * 32768, 32768);
        peer.sendBlock(int32_t(k), bytesOf(block));
        ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
        ASSERT_EQ(peer.read(4).size(), 4u);
    }
}

} // namespace

TEST(CliReceiveFiles, AProcessSwappingTheTemporaryFileCannotGetItsFileCommitted) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    // Another user of the folder: whatever temporary file shows up is moved
    // aside and replaced by their own.
    ChildProcess racer({"sh", "-c",
                        "i=0; while [ $i -lt 3000 ]; do for f in \"$1\"/.zapfer-part-*; do "
                        "if [ -f \"$f\" ] && [ ! -L \"$f\" ] && [ \"$(cat \"$f\")\" != theirs ]; "
                        "then mv -f \"$f\" \"$1/moved\" && printf theirs > \"$f\" && echo swapped; "
                        "fi; done; i=$((i+1)); sleep 0.01; done",
                        "sh", dest.path()});
    const std::string data = randomBytes(3 * 32768, 5);
    test::WirePeer peer = test::WirePeer::tcp(portOf(receiver));
    sendAllButTheClose(peer, "target.bin", data, 300ms);
    std::this_thread::sleep_for(300ms);
    peer.sendCommand(CMD_CLOSE_FILE);
    const uint8_t closed = peer.readCommand();
    racer.signal(SIGTERM);
    racer.waitExit(5s);

    // Either the file written arrived, or it was refused at its close: never theirs.
    if (closed == CMD_OK) {
        EXPECT_TRUE(readFile(dest.file("target.bin")) == data) << "not the file sent";
    } else {
        EXPECT_EQ(closed, CMD_CANNOT_CREATE);
    }
    if (std::filesystem::exists(dest.file("target.bin"))) {
        EXPECT_NE(readFile(dest.file("target.bin")), "theirs");
    }
}

TEST(CliReceiveFiles, AFolderOfTheSameNameRefusesTheTableEvenWithOverwrite) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("report.txt"), "the report\n");
    std::filesystem::create_directory(dest.file("report.txt"));
    writeFile(dest.file("report.txt") + "/inside.txt", "kept");
    Receiver receiver =
        startReceiver(dest.path(), {"--port", "0", "--echo-port", "0", "--overwrite"});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    const RunResult sent =
        runToEnd(cliCommand({"send", "--to", "127.0.0.1", "--port", receiver.port, "--timeout",
                             "20", source.file("report.txt")}),
                 60s);
    EXPECT_EQ(sent.status, 1) << sent.out << sent.err;
    EXPECT_NE(sent.err.find("One or more file names conflict with existing files"),
              std::string::npos)
        << sent.err;
    EXPECT_EQ(sent.out.find("sent successfully"), std::string::npos) << sent.out;
    EXPECT_TRUE(std::filesystem::is_directory(dest.file("report.txt")));
    EXPECT_EQ(readFile(dest.file("report.txt") + "/inside.txt"), "kept");
}

TEST(CliReceiveFiles, AFileThatCannotBeCommittedIsRefusedAtItsClose) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    test::WirePeer peer = test::WirePeer::tcp(portOf(receiver));
    const std::string data = randomBytes(40000, 6);
    sendAllButTheClose(peer, "late.txt", data);
    // Someone makes the name meanwhile; without overwrite it is never replaced.
    writeFile(dest.file("late.txt"), "made meanwhile");
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_CANNOT_CREATE);
    EXPECT_TRUE(receiver.process->waitForLine("0 of 1 files received successfully", 10s))
        << receiver.process->out();
    EXPECT_EQ(readFile(dest.file("late.txt")), "made meanwhile");
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"late.txt"});
}

TEST(CliReceiveFiles, ClosingTheTerminalStopsTheReceiveCleanly) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    test::WirePeer peer = test::WirePeer::tcp(portOf(receiver));
    peer.sendTable({{"large.bin", 50 << 20}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, std::vector<uint8_t>(32768, 'p'));
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);

    receiver.process->signal(SIGHUP);
    EXPECT_EQ(receiver.process->waitExit(15s), 0) << receiver.process->err();
    EXPECT_NE(receiver.process->out().find("transfer interrupted"), std::string::npos)
        << receiver.process->out();
    EXPECT_TRUE(listDir(dest.path()).empty());
}

TEST(CliReceiveFiles, LeftoversOfGoneReceiversAreRemovedButNotLiveOnes) {
    TempDir dest;
    const std::string gone = dest.file(".zapfer-part-00000000deadbeef");
    const std::string live = dest.file(".zapfer-part-00000000cafef00d");
    const std::string fresh = dest.file(".zapfer-part-00000000f00dcafe");
    for (const std::string& path : {gone, live, fresh})
        writeFile(path, "partial");
    const auto hourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(gone, hourAgo);
    std::filesystem::last_write_time(live, hourAgo);
    // Another receiver, still running, holds its file locked.
    ChildProcess holder({"flock", "-x", live, "sleep", "60"});
    {
        UniqueFd probe(::open(live.c_str(), O_RDONLY | O_CLOEXEC));
        bool held = false;
        for (int i = 0; i < 200 && !held; ++i) {
            held = ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0;
            if (!held) {
                ::flock(probe.get(), LOCK_UN);
                std::this_thread::sleep_for(25ms);
            }
        }
        ASSERT_TRUE(held) << "the holder never took its lock";
    }

    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    test::WirePeer peer = test::WirePeer::tcp(portOf(receiver));
    sendAllButTheClose(peer, "new.txt", "new file\n");
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    EXPECT_EQ(listDir(dest.path()),
              (std::vector<std::string>{".zapfer-part-00000000cafef00d",
                                        ".zapfer-part-00000000f00dcafe", "new.txt"}));
}
