// The key of the stored pairing code kept beside the settings file, with real
// zapfer-cli processes: a send with the stored code takes the kept key (shown
// by a wrong key there failing the handshake), a changed code or a file that
// cannot be trusted is derived afresh and rewritten, and a code given for one
// run leaves nothing on disk.

#include "cli_peers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

using namespace zapfer::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr char kCode[] = "7KQ3M4XD2HVF";
// Its key, by the construction's known answer.
constexpr char kKeyHex[] = "f9fd2c60b0925dce492d27d195838145b0d98caae2457659de4352b34291ed06";
// A key no code gives: a handshake with it fails.
constexpr char kWrongHex[] = "0000000000000000000000000000000000000000000000000000000000000001";
constexpr char kMismatch[] = "The peer has a different pairing code";

// A folder standing for one user's ~/.config, with the settings file in it.
struct Config {
    TempDir dir;
    std::string settings() const { return dir.file("Quorvel/Zapfer.conf"); }
    std::string keyFile() const { return dir.file("Quorvel/Zapfer.pairing-key"); }
    std::vector<std::string> env() const { return {"env", "XDG_CONFIG_HOME=" + dir.path()}; }
    void storeCode(const std::string& code) const {
        fs::create_directories(dir.file("Quorvel"));
        writeFile(settings(), "[General]\nPairingCode=" + code + "\n");
        ::chmod(settings().c_str(), 0600);
    }
    void writeKeyFile(const std::string& text, mode_t mode) const {
        fs::remove(keyFile());
        writeFile(keyFile(), text);
        ::chmod(keyFile().c_str(), mode);
    }
};

std::string keyText(const std::string& code, const std::string& hex) {
    return "zapfer-pairing-1\n" + code + "\n" + hex + "\n";
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

struct PairedReceiver {
    std::unique_ptr<ChildProcess> process;
    std::string port;
};

// A receiver for paired peers only on a free port; `args` adds its code.
PairedReceiver startPaired(const Config& config, const std::string& dest,
                           std::vector<std::string> args) {
    std::vector<std::string> all = {"receive", "--dest",       dest, "--port",
                                    "0",       "--echo-port",  "0",  "--paired-port",
                                    "0",       "--only-paired"};
    all.insert(all.end(), args.begin(), args.end());
    PairedReceiver receiver;
    receiver.process = std::make_unique<ChildProcess>(cliCommand(all, config.env()));
    const std::string lead = "listening for paired peers on port ";
    if (const auto line = receiver.process->waitForLine(lead, 30s))
        receiver.port = line->substr(lead.size());
    return receiver;
}

RunResult send(const Config& config, const PairedReceiver& receiver, const std::string& file,
               std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"send",        "--to",      "127.0.0.1", "--paired-port",
                                     receiver.port, "--timeout", "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file);
    return runToEnd(cliCommand(args, config.env()), 120s);
}

void stop(PairedReceiver& receiver) {
    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
}

} // namespace

TEST(PairingKeyFile, SendsWithTheStoredCodeTakeTheKeptKeyUntilTheCodeChanges) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("a.txt"), "paired with the stored code\n");
    Config sender;
    Config receiverConfig;

    // `pair` keeps the new code's key at once, owner-only.
    const RunResult made = runToEnd(cliCommand({"pair"}, sender.env()), 60s);
    ASSERT_EQ(made.status, 0) << made.err;
    std::string code = made.out.substr(0, 14);
    code.erase(std::remove(code.begin(), code.end(), '-'), code.end());
    ASSERT_EQ(code.size(), 12u) << made.out;
    EXPECT_EQ(modeOf(sender.keyFile()), mode_t(0600));
    const std::string kept = readFile(sender.keyFile());
    ASSERT_EQ(kept.size(), 17u + 13u + 65u) << kept;
    EXPECT_EQ(kept.substr(0, 30), "zapfer-pairing-1\n" + code + "\n");

    PairedReceiver receiver = startPaired(receiverConfig, dest.path(), {"--pairing-code", code});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    const RunResult first = send(sender, receiver, source.file("a.txt"));
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(readFile(dest.file("a.txt")), "paired with the stored code\n");
    EXPECT_EQ(readFile(sender.keyFile()), kept);

    // A wrong key kept for the right code is believed: the handshake fails,
    // which only the kept key can have caused. The file is left as it is.
    sender.writeKeyFile(keyText(code, kWrongHex), 0600);
    fs::remove(dest.file("a.txt"));
    const RunResult wrong = send(sender, receiver, source.file("a.txt"));
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find(kMismatch), std::string::npos) << wrong.err;
    EXPECT_TRUE(listDir(dest.path()).empty());
    EXPECT_EQ(readFile(sender.keyFile()), keyText(code, kWrongHex));
    stop(receiver);

    // Another stored code: the old code's file is passed over, the key is
    // derived and kept in its place.
    sender.storeCode(kCode);
    PairedReceiver second = startPaired(receiverConfig, dest.path(), {"--pairing-code", kCode});
    ASSERT_FALSE(second.port.empty()) << second.process->err();
    const RunResult changed = send(sender, second, source.file("a.txt"));
    EXPECT_EQ(changed.status, 0) << changed.err;
    EXPECT_EQ(readFile(sender.keyFile()), keyText(kCode, kKeyHex));
    EXPECT_EQ(modeOf(sender.keyFile()), mode_t(0600));
    stop(second);

    // The receiver's code was given for its runs only: nothing of it is on disk.
    EXPECT_TRUE(listDir(receiverConfig.dir.path()).empty());
}

TEST(PairingKeyFile, AFileThatCannotBeTrustedIsIgnoredAndRewritten) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("b.txt"), "sent despite the bad key file\n");
    Config sender;
    sender.storeCode(kCode);
    Config receiverConfig;
    PairedReceiver receiver = startPaired(receiverConfig, dest.path(), {"--pairing-code", kCode});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();

    struct Case {
        const char* name;
        std::string text;
        mode_t mode;
        bool foreign;
    };
    std::vector<Case> cases = {
        {"readable by others", keyText(kCode, kWrongHex), 0644, false},
        {"malformed", keyText(kCode, std::string(kWrongHex).substr(1)), 0600, false},
        {"another label", "zapfer-pairing-0\n" + std::string(kCode) + "\n" + kWrongHex + "\n", 0600,
         false},
    };
    if (::geteuid() == 0)
        cases.push_back({"owned by another user", keyText(kCode, kWrongHex), 0600, true});
    for (const Case& c : cases) {
        sender.writeKeyFile(c.text, c.mode);
        if (c.foreign) {
            ASSERT_EQ(::chown(sender.keyFile().c_str(), 65534, 65534), 0);
        }
        fs::remove(dest.file("b.txt"));
        const RunResult sent = send(sender, receiver, source.file("b.txt"));
        EXPECT_EQ(sent.status, 0) << c.name << ": " << sent.err;
        EXPECT_EQ(readFile(dest.file("b.txt")), "sent despite the bad key file\n") << c.name;
        EXPECT_EQ(readFile(sender.keyFile()), keyText(kCode, kKeyHex)) << c.name;
        EXPECT_EQ(modeOf(sender.keyFile()), mode_t(0600)) << c.name;
        struct stat status {};
        ASSERT_EQ(::stat(sender.keyFile().c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, ::geteuid()) << c.name;
    }
    stop(receiver);
}

TEST(PairingKeyFile, ACodeForOneRunLeavesNoKeyAndTheReceiverKeepsItsStoredOne) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("c.txt"), "one run\n");

    // A receiver with the stored code takes the kept key as well: a wrong one
    // there turns away a sender with the right code.
    Config receiverConfig;
    receiverConfig.storeCode(kCode);
    receiverConfig.writeKeyFile(keyText(kCode, kWrongHex), 0600);
    PairedReceiver receiver = startPaired(receiverConfig, dest.path(), {});
    ASSERT_FALSE(receiver.port.empty()) << receiver.process->err();
    Config sender; // nothing stored
    const RunResult refused =
        send(sender, receiver, source.file("c.txt"), {"--pairing-code", kCode});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(kMismatch), std::string::npos) << refused.err;
    EXPECT_TRUE(listDir(dest.path()).empty());
    stop(receiver);

    // Without a kept key the receiver derives it and keeps it for its next start.
    fs::remove(receiverConfig.keyFile());
    PairedReceiver fresh = startPaired(receiverConfig, dest.path(), {});
    ASSERT_FALSE(fresh.port.empty()) << fresh.process->err();
    EXPECT_EQ(readFile(receiverConfig.keyFile()), keyText(kCode, kKeyHex));
    EXPECT_EQ(modeOf(receiverConfig.keyFile()), mode_t(0600));
    const RunResult sent = send(sender, fresh, source.file("c.txt"), {"--pairing-code", kCode});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(readFile(dest.file("c.txt")), "one run\n");
    stop(fresh);
    EXPECT_TRUE(listDir(sender.dir.path()).empty()) << "a code for one run is never kept";

    // A stored code with its key beside it: another code for one run neither
    // uses nor replaces that key.
    Config stored;
    stored.storeCode("ABCDEFGHIJKL");
    stored.writeKeyFile(keyText("ABCDEFGHIJKL", kWrongHex), 0600);
    PairedReceiver third = startPaired(receiverConfig, dest.path(), {});
    ASSERT_FALSE(third.port.empty()) << third.process->err();
    fs::remove(dest.file("c.txt"));
    const RunResult given = send(stored, third, source.file("c.txt"), {"--pairing-code", kCode});
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(readFile(stored.keyFile()), keyText("ABCDEFGHIJKL", kWrongHex));
    stop(third);
}

TEST(PairingKeyFile, PairRunsAtOnceEachStoreAWholeCodeAndLeaveNoTemporaryFile) {
    // Four `pair` runs write the same settings file at the same moment, a few
    // times over: each run must succeed, the file must hold one of their
    // codes whole, and no half-written file may stay beside it.
    Config config;
    for (int round = 0; round < 4; ++round) {
        std::vector<std::unique_ptr<ChildProcess>> runs;
        for (int i = 0; i < 4; ++i)
            runs.push_back(std::make_unique<ChildProcess>(cliCommand({"pair"}, config.env())));
        std::vector<std::string> codes;
        for (auto& run : runs) {
            ASSERT_EQ(run->waitExit(60s), 0) << run->err();
            codes.push_back(run->out().substr(0, 14));
            codes.back().erase(std::remove(codes.back().begin(), codes.back().end(), '-'),
                               codes.back().end());
        }
        const std::string settings = readFile(config.settings());
        ASSERT_EQ(settings.rfind("[General]\nPairingCode=", 0), 0u) << settings;
        const std::string stored = settings.substr(22, 12);
        EXPECT_NE(std::find(codes.begin(), codes.end(), stored), codes.end()) << settings;
        EXPECT_EQ(std::count(settings.begin(), settings.end(), '\n'), 2) << settings;
        EXPECT_EQ(modeOf(config.settings()), mode_t(0600));
        for (const std::string& name : listDir(config.dir.file("Quorvel")))
            EXPECT_TRUE(name == "Zapfer.conf" || name == "Zapfer.pairing-key") << name;
    }
}
