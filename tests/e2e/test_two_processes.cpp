// A zapfer-cli sender and a zapfer-cli receiver as two processes on 127.0.0.1.

#include "cli_peers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

const std::string kConflictText =
    "One or more file names conflict with existing files on the recipient's machine.\n";

std::vector<std::string> sendTo(const Receiver& receiver, std::vector<std::string> files) {
    std::vector<std::string> args = {"send",        "--to",      "127.0.0.1", "--port",
                                     receiver.port, "--timeout", "20"};
    args.insert(args.end(), files.begin(), files.end());
    return cliCommand(args);
}

// A large file of zeros that costs no disk until it is received.
std::string sparseFile(const TempDir& dir, const std::string& name, uintmax_t size) {
    const std::string path = dir.file(name);
    writeFile(path, "");
    std::filesystem::resize_file(path, size);
    return path;
}

constexpr uintmax_t kLarge = 256u << 20;

} // namespace

TEST(TwoProcesses, SeveralFilesArriveByteIdentical) {
    TempDir source;
    TempDir dest;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty.bin", ""},
        {"note.txt", "a short note\n"},
        {"block.bin", randomBytes(32768, 1)},
        {"block-and-one.bin", randomBytes(32769, 2)},
        {"random.bin", randomBytes(1 << 20, 3)},
    };
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : files) {
        paths.push_back(source.file(name));
        writeFile(paths.back(), bytes);
    }
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    const RunResult sent = runToEnd(sendTo(receiver, paths), 120s);
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_NE(sent.out.find("5 of 5 files sent successfully\n"), std::string::npos) << sent.out;
    ASSERT_TRUE(receiver.process->waitForLine("5 of 5 files received successfully", 30s))
        << receiver.process->out();

    expectExactlyReceived(dest, files);

    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
}

TEST(TwoProcesses, ExistingNamesAreRefusedUnlessTheReceiverOverwrites) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("a.txt"), "new a");
    writeFile(source.file("b.txt"), "new b");
    writeFile(dest.file("b.txt"), "older b");
    const std::vector<std::string> paths = {source.file("a.txt"), source.file("b.txt")};
    {
        Receiver receiver = startReceiver(dest.path());
        ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
        const RunResult refused = runToEnd(sendTo(receiver, paths), 120s);
        ASSERT_TRUE(refused.status.has_value());
        EXPECT_EQ(*refused.status, 1);
        EXPECT_NE(refused.err.find(kConflictText), std::string::npos) << refused.err;
        EXPECT_EQ(refused.out.find("sent successfully"), std::string::npos) << refused.out;
        EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"b.txt"});
        EXPECT_EQ(readFile(dest.file("b.txt")), "older b");
    }
    Receiver receiver =
        startReceiver(dest.path(), {"--port", "0", "--echo-port", "0", "--overwrite"});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    const RunResult sent = runToEnd(sendTo(receiver, paths), 120s);
    EXPECT_EQ(sent.status, 0) << sent.err;
    ASSERT_TRUE(receiver.process->waitForLine("2 of 2 files received successfully", 30s));
    EXPECT_EQ(readFile(dest.file("a.txt")), "new a");
    EXPECT_EQ(readFile(dest.file("b.txt")), "new b");
}

// The receiver is stopped (Ctrl+C) while a large file is arriving over an
// older file of the same name: the sender fails, and the destination keeps
// the older file and nothing else.
TEST(TwoProcesses, ReceiverStoppedMidFileFailsTheSendAndLeavesNoPartialFile) {
    TempDir source;
    TempDir dest;
    const std::string large = sparseFile(source, "large.bin", kLarge);
    writeFile(dest.file("large.bin"), "older");
    Receiver receiver =
        startReceiver(dest.path(), {"--port", "0", "--echo-port", "0", "--overwrite"});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    ChildProcess sender(sendTo(receiver, {large}));
    ASSERT_TRUE(receiver.process->waitForLine("receiving large.bin", 30s))
        << receiver.process->out() << receiver.process->err();
    receiver.process->signal(SIGINT);

    const auto senderStatus = sender.waitExit(60s);
    ASSERT_TRUE(senderStatus.has_value()) << "the sender did not give up";
    EXPECT_EQ(*senderStatus, 1) << sender.out() << sender.err();
    EXPECT_EQ(sender.out().find("1 of 1 files sent successfully"), std::string::npos);
    EXPECT_EQ(receiver.process->waitExit(30s), 0) << receiver.process->err();
    EXPECT_NE(receiver.process->out().find("transfer interrupted: 0 of 1 files received"),
              std::string::npos)
        << receiver.process->out();
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"large.bin"});
    EXPECT_EQ(readFile(dest.file("large.bin")), "older");
}

// The sender dies mid-file: the receiver drops the partial file, says so, and
// keeps serving.
TEST(TwoProcesses, SenderKilledMidFileLeavesNothingAndTheReceiverServesOn) {
    TempDir source;
    TempDir dest;
    const std::string large = sparseFile(source, "large.bin", kLarge);
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    {
        ChildProcess sender(sendTo(receiver, {large}));
        ASSERT_TRUE(receiver.process->waitForLine("receiving large.bin", 30s))
            << receiver.process->out() << receiver.process->err();
        sender.signal(SIGKILL);
        ASSERT_TRUE(sender.waitExit(20s).has_value());
    }
    ASSERT_TRUE(receiver.process->waitForLine("transfer interrupted: 0 of 1 files received", 30s))
        << receiver.process->out();
    EXPECT_TRUE(listDir(dest.path()).empty());

    writeFile(source.file("after.txt"), "still serving");
    const RunResult sent = runToEnd(sendTo(receiver, {source.file("after.txt")}), 120s);
    EXPECT_EQ(sent.status, 0) << sent.err;
    ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 30s));
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"after.txt"});
    EXPECT_EQ(readFile(dest.file("after.txt")), "still serving");
}
