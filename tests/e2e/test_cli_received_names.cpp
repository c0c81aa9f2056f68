// zapfer-cli receive against a hand-driven peer: a dot-file is stored visible
// under the name it reports, and with no folder chosen files go to the
// download folder, never to the home folder or wherever it was started.

#include "cli_peers.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

using namespace zapfer;
using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {
const std::string kProfile = "echo owned\n";

// Sends kProfile as `wireName`, the only file of one table, to port.
void sendProfile(const std::string& port, const std::string& wireName) {
    test::WirePeer peer = test::WirePeer::tcp(uint16_t(std::stoi(port)));
    ASSERT_TRUE(peer.connected());
    peer.sendTable({{wireName, int32_t(kProfile.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
    peer.sendBlock(0, std::vector<uint8_t>(kProfile.begin(), kProfile.end()));
    ASSERT_EQ(peer.readCommand(), CMD_BLOCK_OK);
    ASSERT_EQ(peer.read(4).size(), 4u);
    peer.sendCommand(CMD_CLOSE_FILE);
    ASSERT_EQ(peer.readCommand(), CMD_OK);
}
} // namespace

TEST(CliReceivedNames, ADotFileIsStoredAndReportedWithAnUnderscore) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    sendProfile(receiver.port, "C:\\Users\\bob\\.bash_profile");
    const auto line = receiver.process->waitForLine("receiving ", 10s);
    ASSERT_TRUE(line) << receiver.process->out();
    EXPECT_EQ(*line, "receiving _bash_profile");
    ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 10s))
        << receiver.process->out();
    EXPECT_EQ(listDir(dest.path()), std::vector<std::string>{"_bash_profile"});
    EXPECT_EQ(readFile(dest.file("_bash_profile")), kProfile);
    EXPECT_FALSE(std::filesystem::exists(dest.file(".bash_profile")));
}

TEST(CliReceivedNames, WithNoFolderChosenFilesGoToTheDownloadFolder) {
    TempDir home; // no settings, no user-dirs.dirs, no Downloads yet
    TempDir startedIn;
    const std::vector<std::string> prefix = {
        "env",           "-u", "XDG_CONFIG_HOME", "-u",
        "XDG_DATA_HOME", "-C", startedIn.path(),  "HOME=" + home.path()};
    ChildProcess receiver(cliCommand({"receive", "--port", "0", "--echo-port", "0"}, prefix));
    const std::string lead = "listening on port ";
    const auto listening = receiver.waitForLine(lead, 20s);
    ASSERT_TRUE(listening) << receiver.err();
    sendProfile(listening->substr(lead.size()), "notes.txt");
    ASSERT_TRUE(receiver.waitForLine("1 of 1 files received successfully", 10s)) << receiver.out();
    EXPECT_EQ(readFile(home.file("Downloads/notes.txt")), kProfile);
    // The history is written after the result is printed: ended first, so
    // that it has been.
    receiver.signal(SIGTERM);
    EXPECT_EQ(receiver.waitExit(20s), 0) << receiver.err();
    // Beside the files, only the transfer history, where it goes by default.
    EXPECT_EQ(listDir(home.path()), (std::vector<std::string>{".local", "Downloads"}));
    EXPECT_TRUE(
        std::filesystem::is_regular_file(home.file(".local/share/Quorvel/Zapfer/history.sqlite")));
    EXPECT_TRUE(listDir(startedIn.path()).empty());
}

TEST(CliReceivedNames, OnlyAReceiveMakesTheDownloadFolder) {
    // A send (here to a port nobody listens on) and a look at the history
    // store nothing: they must not leave an empty download folder behind.
    TempDir home;
    TempDir source;
    writeFile(source.file("a.txt"), "x");
    const std::vector<std::string> prefix = {
        "env", "-u", "XDG_CONFIG_HOME", "-u", "XDG_DATA_HOME", "HOME=" + home.path()};
    const RunResult history = runToEnd(cliCommand({"history"}, prefix), 20s);
    EXPECT_EQ(history.status, 0) << history.err;
    // It keeps trying to reach the peer; a few seconds are enough here.
    const RunResult send = runToEnd(
        cliCommand({"send", "--to", "127.0.0.1", "--port", "1", "--plain", source.file("a.txt")},
                   prefix),
        3s);
    EXPECT_NE(send.status, 0);
    EXPECT_FALSE(std::filesystem::exists(home.file("Downloads"))) << send.err;
}

TEST(CliReceivedNames, NamesAreStoredAsUtf8InOneFormAndDeceptiveOnesRefused) {
    TempDir dest;
    Receiver receiver = startReceiver(dest.path());
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    const uint16_t port = uint16_t(std::stoi(receiver.port));

    // A peer writing Windows-1252, and one writing a decomposed é.
    sendProfile(receiver.port, "C:\\Docs\\r\xE9sum\xE9.txt");
    auto line = receiver.process->waitForLine("receiving ", 10s);
    ASSERT_TRUE(line) << receiver.process->out();
    EXPECT_EQ(*line, "receiving r\xC3\xA9sum\xC3\xA9.txt");
    sendProfile(receiver.port, "cafe\xCC\x81.txt");
    line = receiver.process->waitForLine("receiving ", 10s);
    ASSERT_TRUE(line) << receiver.process->out();
    EXPECT_EQ(*line, "receiving caf\xC3\xA9.txt");
    {
        SCOPED_TRACE("the composed form is the same name");
        test::WirePeer peer = test::WirePeer::tcp(port);
        peer.sendTable({{"caf\xC3\xA9.txt", 3}});
        EXPECT_EQ(peer.readCommand(), CMD_NAME_CONFLICT);
    }
    for (const std::string name : {"gpj.\xE2\x80\xAE"
                                   "exe",
                                   "\xC2\x9B"
                                   "31mred.txt",
                                   "x\xE2\x81\xA6"
                                   "y.txt"}) {
        test::WirePeer peer = test::WirePeer::tcp(port);
        peer.sendTable({{"fine.txt", 3}, {name, 3}});
        EXPECT_EQ(peer.readCommand(), CMD_CANNOT_CREATE) << name;
    }
    EXPECT_EQ(listDir(dest.path()),
              (std::vector<std::string>{"caf\xC3\xA9.txt", "r\xC3\xA9sum\xC3\xA9.txt"}));
}
