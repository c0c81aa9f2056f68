// zapfer-cli's command line, run as the real program: what it refuses, with
// which status and message, and what it lets through to the network.

#include "child_process.h"
#include "cli_options.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

const std::string kCli = ZAPFER_CLI_PATH;

std::vector<std::string> cli(std::vector<std::string> args) {
    args.insert(args.begin(), kCli);
    return args;
}

int lineCount(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n'));
}

// A TCP port on 127.0.0.1 that refuses connections: bound, never listening.
class ClosedPort {
public:
    ClosedPort() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~ClosedPort() { close(m_fd); }
    std::string port() const { return std::to_string(m_port); }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

void expectUsageError(const std::vector<std::string>& args, const std::string& mentions) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const RunResult run = runToEnd(cli(args), 20s);
    ASSERT_TRUE(run.status.has_value()) << "did not end";
    EXPECT_EQ(*run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(lineCount(run.err), 1) << run.err;
    EXPECT_TRUE(run.err.starts_with("zapfer-cli: ")) << run.err;
    EXPECT_NE(run.err.find(mentions), std::string::npos) << run.err;
}

} // namespace

TEST(CliArguments, HelpListsBothCommandsAndExitsZero) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"help"}, {"send", "--help"}, {"receive", "-h"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const RunResult run = runToEnd(cli(args), 20s);
        ASSERT_EQ(run.status, 0);
        for (const char* word :
             {"zapfer-cli receive", "zapfer-cli send", "--dest", "--overwrite", "--port",
              "--echo-port", "--lan", "--to", "--probe-port", "--timeout", "--help"})
            EXPECT_NE(run.out.find(word), std::string::npos) << word;
        EXPECT_EQ(run.err, "");
    }
}

TEST(CliArguments, MalformedCommandLinesExitTwoWithOneLine) {
    TempDir dir;
    const std::string file = dir.file("a.txt");
    writeFile(file, "x");
    expectUsageError({}, "no command");
    expectUsageError({"beam"}, "unknown command 'beam'");
    expectUsageError({"--port", "5"}, "expected a command");
    expectUsageError({"send"}, "at least one file");
    expectUsageError({"send", "--bogus", file}, "unknown option '--bogus'");
    expectUsageError({"send", "--overwrite", file}, "does not apply to send");
    expectUsageError({"receive", "--to", "127.0.0.1"}, "does not apply to receive");
    expectUsageError({"receive", "--overwrite=yes"}, "takes no value");
    expectUsageError({"receive", "--port", "65536"}, "invalid --port '65536'");
    expectUsageError({"receive", "--port", "12ab"}, "invalid --port '12ab'");
    expectUsageError({"receive", "--echo-port=-1"}, "invalid --echo-port");
    expectUsageError({"receive", "stray.txt"}, "takes no file names");
    expectUsageError({"send", "--port", "0", file}, "invalid --port '0'");
    expectUsageError({"send", "--probe-port", "0", file}, "invalid --probe-port");
    expectUsageError({"send", "--timeout", "0", file}, "invalid --timeout");
    expectUsageError({"send", file, "--to"}, "needs a value");
    expectUsageError({"send", "--lan", "--to", "127.0.0.1", file}, "cannot be used together");
}

TEST(CliArguments, OnlyAWellFormedPairingCodeIsTaken) {
    TempDir dir;
    const std::string file = dir.file("a.txt");
    writeFile(file, "x");
    expectUsageError({"send", "--pairing-code", "7KQ3-M4XD-2HV1", file},
                     "invalid --pairing-code: '1' is not a character of a pairing code");
    expectUsageError({"send", "--pairing-code", "7KQ3-M4XD", file},
                     "a pairing code has 12 characters, not 8");
    expectUsageError({"receive", "--pairing-code", " - "}, "no code given");
    expectUsageError({"receive", "--pairing-code", "7KQ3\tM4XD2HVF"}, "not a character");
    expectUsageError({"receive", "--plain"}, "does not apply to receive");
    expectUsageError({"send", "--only-paired", file}, "does not apply to send");
    expectUsageError({"send", "--paired-port", "0", file}, "invalid --paired-port '0'");
    expectUsageError({"pair", "--port", "5"}, "pair takes no options");
    expectUsageError({"receive", "--serial", "usb", "--pairing-code", "7KQ3M4XD2HVF"},
                     "cannot be used together");
}

TEST(CliArguments, FilesThatCannotTravelWholeAreRefusedBeforeSending) {
    TempDir dir;
    const std::string ok = dir.file("ok.txt");
    writeFile(ok, "fine");
    std::filesystem::create_directory(dir.file("folder"));
    mkfifo(dir.file("pipe").c_str(), 0600);
    const std::string huge = dir.file("huge.bin");
    writeFile(huge, "");
    std::filesystem::resize_file(huge, 0x80000000LL); // sparse: 2 GiB
    const std::string longName = dir.file(std::string(126, 'n'));
    writeFile(longName, "x");
    writeFile(dir.file("back\\slash"), "x");
    std::filesystem::create_directory(dir.file("other"));
    writeFile(dir.file("other/ok.txt"), "twin");
    writeFile(dir.file("other/OK.TXT"), "twin in capitals");

    expectUsageError({"send", ok, dir.file("missing.txt")}, "missing.txt");
    expectUsageError({"send", dir.file("folder")}, "is a folder");
    expectUsageError({"send", dir.file("pipe")}, "not a regular file");
    expectUsageError({"send", huge}, "2 GiB");
    expectUsageError({"send", longName}, "longer than 125 bytes");
    expectUsageError({"send", dir.file("back\\slash")}, "backslash");
    expectUsageError({"send", ok, dir.file("other/ok.txt")}, "same name 'ok.txt'");
    // As in the window's send list: names that differ only in case are one name.
    expectUsageError({"send", ok, dir.file("other/OK.TXT")}, "same name 'OK.TXT'");
    std::vector<std::string> tooMany = {"send"};
    for (int i = 0; i < 101; ++i)
        tooMany.push_back(ok);
    expectUsageError(tooMany, "at most 100 files");
    if (geteuid() != 0) {
        const std::string secret = dir.file("secret.txt");
        writeFile(secret, "x");
        chmod(secret.c_str(), 0);
        expectUsageError({"send", secret}, "secret.txt");
    }
    expectUsageError({"receive", "--dest", dir.file("nowhere")}, "not a folder");
    expectUsageError({"receive", "--dest", ok}, "not a folder");
}

// The largest file, the longest name and the most files that fit are let
// through: the send gets as far as the network, finds nobody and says so.
TEST(CliArguments, LimitsThemselvesAreAcceptedAndAnUnansweredConnectTimesOut) {
    TempDir dir;
    const std::string largest = dir.file("largest.bin");
    writeFile(largest, "");
    std::filesystem::resize_file(largest, 0x7FFFFFFF);
    std::vector<std::string> args = {
        "send", "--to", "127.0.0.1", "--timeout", "1", largest, dir.file(std::string(125, 'n'))};
    writeFile(args.back(), "x");
    for (int i = 2; i < 100; ++i) {
        args.push_back(dir.file("f" + std::to_string(i)));
        writeFile(args.back(), std::to_string(i));
    }
    ClosedPort closed;
    args.insert(args.begin() + 1, {"--port", closed.port()});

    const RunResult run = runToEnd(cli(args), 30s);
    ASSERT_TRUE(run.status.has_value()) << "the time-out did not end the send";
    EXPECT_EQ(*run.status, 1) << run.err;
    EXPECT_NE(
        run.err.find("could not connect to 127.0.0.1 port " + closed.port() + " within 1 seconds"),
        std::string::npos)
        << run.err;
}

TEST(CliSend, InterruptWhileConnectingCancelsPromptly) {
    TempDir dir;
    writeFile(dir.file("a.txt"), "x");
    ClosedPort closed;
    ChildProcess sender(cli({"send", "--to", "127.0.0.1", "--port", closed.port(), "--timeout",
                             "3600", dir.file("a.txt")}));
    ASSERT_TRUE(sender.waitForLine("connecting to 127.0.0.1", 20s)) << sender.err();
    sender.signal(SIGINT);
    EXPECT_EQ(sender.waitExit(20s), 1);
    EXPECT_NE(sender.err().find("cancelled"), std::string::npos) << sender.err();
}

TEST(CliReceive, ReportsItsPortAndStopsCleanlyOnEitherSignal) {
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        TempDir dest;
        ChildProcess receiver(
            cli({"receive", "--port", "0", "--echo-port", "0", "--dest", dest.path()}));
        const auto line = receiver.waitForLine("listening on port ", 20s);
        ASSERT_TRUE(line.has_value()) << receiver.err();
        const int port = std::stoi(line->substr(std::string("listening on port ").size()));
        EXPECT_GT(port, 0);
        EXPECT_LT(port, 65536);

        receiver.signal(sig);
        EXPECT_EQ(receiver.waitExit(20s), 0) << receiver.err();
        EXPECT_TRUE(listDir(dest.path()).empty());
    }
}

TEST(CliReceive, APortAlreadyInUseIsAnErrorNotASilentDeafServer) {
    TempDir dest;
    ChildProcess first(cli({"receive", "--port", "0", "--echo-port", "0", "--dest", dest.path()}));
    const auto line = first.waitForLine("listening on port ", 20s);
    ASSERT_TRUE(line.has_value()) << first.err();
    const std::string port = line->substr(std::string("listening on port ").size());

    const RunResult second =
        runToEnd(cli({"receive", "--port", port, "--echo-port", "0", "--dest", dest.path()}), 20s);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out.find("listening"), std::string::npos) << second.out;
    EXPECT_NE(second.err.find("cannot listen on TCP port " + port), std::string::npos)
        << second.err;
}

// Options left out take the window's stored settings; given ones win.
TEST(CliStoredDefaults, OmittedOptionsFollowTheWindow) {
    using namespace zapfer::cli;
    StoredSettings stored;
    stored.destDir = "/srv/incoming";
    stored.preferences = 14 | 16; // overwrite on
    stored.commType = 6;          // WAN / Internet
    stored.peerIp = 0xC0A80005;
    const char* receive[] = {"zapfer-cli", "receive"};
    auto parsed = parseArguments(2, receive, stored);
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->destDir, "/srv/incoming");
    EXPECT_EQ(parsed.options->nameConflict, zapfer::NameConflict::Replace);

    const char* send[] = {"zapfer-cli", "send", "a.txt"};
    parsed = parseArguments(3, send, stored);
    ASSERT_TRUE(parsed.options);
    EXPECT_FALSE(parsed.options->lan);
    EXPECT_EQ(parsed.options->toAddress, "192.168.0.5");

    const char* lan[] = {"zapfer-cli", "send", "--lan", "a.txt"};
    parsed = parseArguments(4, lan, stored);
    ASSERT_TRUE(parsed.options);
    EXPECT_TRUE(parsed.options->lan) << "a link on the command line wins";

    stored.commType = 2; // COM1 with a stored device
    stored.com1Port = "/dev/ttyUSB3";
    parsed = parseArguments(2, receive, stored);
    ASSERT_TRUE(parsed.options);
    ASSERT_TRUE(parsed.options->serialType);
    EXPECT_EQ(*parsed.options->serialType, zapfer::CommType::Com1);
    EXPECT_EQ(serialDevicesOf(*parsed.options).com1, "/dev/ttyUSB3");

    stored.commType = 99; // not a type: the built-in default stays
    parsed = parseArguments(3, send, stored);
    ASSERT_TRUE(parsed.options);
    EXPECT_TRUE(parsed.options->lan);
    EXPECT_FALSE(parsed.options->serialType);
}

TEST(CliStoredDefaults, OnlyPairedPeersFromTheWindowListensOnlyForThem) {
    using namespace zapfer::cli;
    StoredSettings stored;
    stored.acceptFrom = "paired";
    stored.pairingCode = "7KQ3M4XD2HVF";
    const char* receive[] = {"zapfer-cli", "receive"};
    auto parsed = parseArguments(2, receive, stored);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_TRUE(parsed.options->onlyPaired);
    EXPECT_EQ(parsed.options->pairingCode, "7KQ3M4XD2HVF");

    const char* listed[] = {"zapfer-cli", "receive", "--accept-from", "127.0.0.1"};
    parsed = parseArguments(4, listed, stored);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_FALSE(parsed.options->onlyPaired) << "an accept list on the command line wins";

    stored.pairingCode.reset(); // the choice without a code lets nobody in: refused
    parsed = parseArguments(2, receive, stored);
    EXPECT_FALSE(parsed.options);
}

TEST(CliStoredDefaults, OnlyTheStoredCodeMayHaveItsKeyKeptOnDisk) {
    using namespace zapfer::cli;
    StoredSettings stored;
    stored.pairingCode = "7kq3-m4xd-2hvf";
    const char* send[] = {"zapfer-cli", "send", "--to", "127.0.0.1", "a.txt"};
    auto parsed = parseArguments(5, send, stored);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->pairingCode, "7KQ3M4XD2HVF");
    EXPECT_TRUE(parsed.options->pairingCodeStored);

    // Given for one run, even the very code that is stored, it is not the
    // stored one: nothing of it goes to disk.
    for (const char* code : {"ABCD-EFGH-IJKL", "7KQ3-M4XD-2HVF"}) {
        const char* given[] = {"zapfer-cli",     "send", "--to", "127.0.0.1",
                               "--pairing-code", code,   "a.txt"};
        parsed = parseArguments(7, given, stored);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_FALSE(parsed.options->pairingCodeStored) << code;
    }
    stored.pairingCode.reset();
    parsed = parseArguments(5, send, stored);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_FALSE(parsed.options->pairingCodeStored);
}
