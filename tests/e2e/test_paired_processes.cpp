// Two zapfer-cli processes on the paired link over 127.0.0.1, and OpenSSL's
// own s_client against a zapfer-cli receiver: the same code moves files
// byte-identical both ways, any other code or none moves nothing and is
// told on both sides.

#include "cli_peers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>

using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

constexpr char kCode[] = "7KQ3-M4XD-2HVF";
// The key of kCode, worked out once outside Zapfer (Python's hashlib.scrypt);
// the openssl test works it out again each run.
constexpr char kKeyHex[] = "f9fd2c60b0925dce492d27d195838145b0d98caae2457659de4352b34291ed06";

// The pairing key of `code` (its 12 characters in upper case) as the
// construction in doc/pairing.md gives it, by Python's own scrypt.
std::string pythonPairingKey(const std::string& code) {
    const RunResult result = runToEnd(
        {"python3", "-c",
         "import hashlib, sys\n"
         "print(hashlib.scrypt(sys.argv[1].encode(), salt=b'zapfer-pairing-1', n=32768, r=8, "
         "p=1, maxmem=64 * 1024 * 1024, dklen=32).hex())",
         code},
        60s);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out.substr(0, result.out.find('\n'));
}
constexpr char kOtherCode[] = "ABCD-EFGH-IJKL";
constexpr char kMismatch[] = "The peer has a different pairing code";

struct PairedReceiver {
    std::unique_ptr<ChildProcess> process;
    std::string pairedPort;
    std::string plainPort; // empty with --only-paired
};

// A receiver with `code` on free ports of 127.0.0.1, once it says where.
PairedReceiver startPaired(const std::string& dest, const std::string& code,
                           std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"receive", "--dest",         dest, "--port",
                                     "0",       "--echo-port",    "0",  "--paired-port",
                                     "0",       "--pairing-code", code};
    args.insert(args.end(), extra.begin(), extra.end());
    PairedReceiver receiver;
    receiver.process = std::make_unique<ChildProcess>(cliCommand(args));
    const std::string plainLead = "listening on port ";
    const std::string pairedLead = "listening for paired peers on port ";
    if (std::find(extra.begin(), extra.end(), "--only-paired") == extra.end())
        if (const auto line = receiver.process->waitForLine(plainLead, 30s))
            receiver.plainPort = line->substr(plainLead.size());
    if (const auto line = receiver.process->waitForLine(pairedLead, 30s))
        receiver.pairedPort = line->substr(pairedLead.size());
    return receiver;
}

RunResult pairedSend(const PairedReceiver& receiver, const std::string& code,
                     std::vector<std::string> files, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {
        "send", "--to",           "127.0.0.1", "--paired-port", receiver.pairedPort, "--timeout",
        "60",   "--pairing-code", code};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), files.begin(), files.end());
    return runToEnd(cliCommand(args), 600s);
}

void stop(PairedReceiver& receiver) {
    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
}

// Compares two files in pieces: a whole GiB is not read into memory.
bool sameContents(const std::string& a, const std::string& b) {
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    if (!left || !right)
        return false;
    std::vector<char> x(1 << 20);
    std::vector<char> y(1 << 20);
    for (int piece = 0; piece < 1 << 16; ++piece) {
        left.read(x.data(), std::streamsize(x.size()));
        right.read(y.data(), std::streamsize(y.size()));
        if (left.gcount() != right.gcount() ||
            !std::equal(x.begin(), x.begin() + left.gcount(), y.begin()))
            return false;
        if (left.gcount() == 0)
            return true;
    }
    return false;
}

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

// `count` lines of the receiver's output that note a failed handshake.
int failureLines(const ChildProcess& receiver) {
    const std::string& out = receiver.out();
    int count = 0;
    for (size_t at = out.find("paired handshake from 127.0.0.1 failed"); at != std::string::npos;
         at = out.find("paired handshake from 127.0.0.1 failed", at + 1))
        ++count;
    return count;
}

} // namespace

TEST(PairedProcesses, HundredFilesOneWayAndTheirCopiesBackArriveByteIdentical) {
    TempDir source;
    TempDir first;
    TempDir second;
    std::vector<std::string> paths;
    for (int i = 0; i < 100; ++i) {
        paths.push_back(source.file("f" + std::to_string(i) + ".bin"));
        writeFile(paths.back(), randomBytes(size_t(i) * 1031 + (i % 7 == 0 ? 40000 : 0), i));
    }
    PairedReceiver a = startPaired(first.path(), kCode);
    ASSERT_FALSE(a.pairedPort.empty()) << a.process->err();
    const RunResult there = pairedSend(a, kCode, paths);
    ASSERT_EQ(there.status, 0) << there.out << there.err;
    ASSERT_TRUE(a.process->waitForLine("100 of 100 files received successfully", 30s))
        << a.process->out();

    // And back, from what arrived, to a receiver typed in another way.
    PairedReceiver b = startPaired(second.path(), "7kq3 m4xd 2hvf");
    ASSERT_FALSE(b.pairedPort.empty()) << b.process->err();
    std::vector<std::string> arrived;
    for (int i = 0; i < 100; ++i)
        arrived.push_back(first.file("f" + std::to_string(i) + ".bin"));
    const RunResult back = pairedSend(b, kCode, arrived);
    ASSERT_EQ(back.status, 0) << back.out << back.err;
    ASSERT_TRUE(b.process->waitForLine("100 of 100 files received successfully", 30s));
    for (int i = 0; i < 100; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        EXPECT_EQ(readFile(second.file(name)), readFile(source.file(name))) << name;
    }
    EXPECT_EQ(failureLines(*a.process) + failureLines(*b.process), 0);
    stop(a);
    stop(b);
}

TEST(PairedProcesses, AGibibyteFileArrivesByteIdentical) {
    if (underSanitizer())
        GTEST_SKIP() << "a GiB through the sanitizers takes too long; the other tests cover them";
    // Kept in memory where the machine has a RAM disk; sparse either way.
    const bool shm = std::filesystem::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0;
    const std::string base = shm ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    const std::string sourceDir = base + "/zapfer-paired-src-" + std::to_string(::getpid());
    const std::string destDir = base + "/zapfer-paired-dst-" + std::to_string(::getpid());
    std::filesystem::create_directories(sourceDir);
    std::filesystem::create_directories(destDir);
    const std::string path = sourceDir + "/large.bin";
    {
        // Mostly a hole, with marked pieces at the start, the middle and the
        // end so that a shifted or dropped block shows.
        std::ofstream out(path, std::ios::binary);
        const std::string mark = randomBytes(100'000, 77);
        for (const std::streamoff at : {std::streamoff(0), std::streamoff(512) << 20,
                                        (std::streamoff(1) << 30) - std::streamoff(mark.size())}) {
            out.seekp(at);
            out.write(mark.data(), std::streamsize(mark.size()));
        }
    }
    ASSERT_EQ(std::filesystem::file_size(path), uintmax_t(1) << 30);
    PairedReceiver receiver = startPaired(destDir, kCode);
    ASSERT_FALSE(receiver.pairedPort.empty()) << receiver.process->err();
    const RunResult sent = pairedSend(receiver, kCode, {path});
    EXPECT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 60s));
    EXPECT_TRUE(sameContents(path, destDir + "/large.bin"));
    stop(receiver);
    std::filesystem::remove_all(sourceDir);
    std::filesystem::remove_all(destDir);
}

TEST(PairedProcesses, AnotherCodeIsRefusedOnBothSidesWithNothingWrittenAndFiveFailuresBlock) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("secret.txt"), "nothing of this may arrive\n");
    PairedReceiver receiver = startPaired(dest.path(), kCode);
    ASSERT_FALSE(receiver.pairedPort.empty()) << receiver.process->err();
    const RunResult refused = pairedSend(receiver, kOtherCode, {source.file("secret.txt")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(kMismatch), std::string::npos) << refused.err;
    EXPECT_TRUE(receiver.process->waitForLine("paired handshake from 127.0.0.1 failed", 20s))
        << receiver.process->out();
    EXPECT_TRUE(listDir(dest.path()).empty());

    // Four more make five within the minute; the sixth is not answered at all.
    for (int i = 0; i < 4; ++i) {
        const RunResult again = pairedSend(receiver, kOtherCode, {source.file("secret.txt")});
        EXPECT_NE(again.err.find(kMismatch), std::string::npos) << i << again.err;
    }
    const RunResult blocked = pairedSend(receiver, kCode, {source.file("secret.txt")});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("The peer did not answer"), std::string::npos) << blocked.err;
    receiver.process->waitForLine("no such line: gives the receiver time to print", 1s);
    EXPECT_EQ(failureLines(*receiver.process), 5) << receiver.process->out();
    EXPECT_TRUE(listDir(dest.path()).empty());
    stop(receiver);
}

TEST(PairedProcesses, APairedOnlyReceiverRefusesPlainSendersAndServesThePairedOneAfter) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("a.txt"), "paired only\n");
    PairedReceiver receiver = startPaired(dest.path(), kCode, {"--only-paired"});
    ASSERT_FALSE(receiver.pairedPort.empty()) << receiver.process->err();
    EXPECT_EQ(receiver.process->out().find("listening on port"), std::string::npos)
        << "the plain port is not listened on";
    // A plain sender can only knock on the paired port, where it is not understood.
    const RunResult plain =
        runToEnd(cliCommand({"send", "--to", "127.0.0.1", "--port", receiver.pairedPort,
                             "--timeout", "20", source.file("a.txt")}),
                 120s);
    EXPECT_EQ(plain.status, 1) << plain.out << plain.err;
    EXPECT_TRUE(receiver.process->waitForLine("paired handshake from 127.0.0.1 failed", 20s));
    EXPECT_TRUE(listDir(dest.path()).empty());

    const RunResult paired = pairedSend(receiver, kCode, {source.file("a.txt")});
    EXPECT_EQ(paired.status, 0) << paired.err;
    EXPECT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 20s));
    EXPECT_EQ(readFile(dest.file("a.txt")), "paired only\n");
    stop(receiver);
}

TEST(PairedProcesses, ASenderWithACodeNeverFallsBackToThePlainLink) {
    TempDir source;
    TempDir dest;
    writeFile(source.file("b.txt"), "plain\n");
    Receiver plainReceiver = startReceiver(dest.path());
    ASSERT_FALSE(plainReceiver.port.empty());
    // The plain receiver has no paired port: the one given refuses.
    const RunResult refused = runToEnd(
        cliCommand({"send", "--to", "127.0.0.1", "--port", plainReceiver.port, "--paired-port", "1",
                    "--timeout", "20", "--pairing-code", kCode, source.file("b.txt")}),
        120s);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("The peer does not accept paired transfers"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(listDir(dest.path()).empty());
    const RunResult plain =
        runToEnd(cliCommand({"send", "--to", "127.0.0.1", "--port", plainReceiver.port, "--timeout",
                             "20", "--pairing-code", kCode, "--plain", source.file("b.txt")}),
                 120s);
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(readFile(dest.file("b.txt")), "plain\n");
    plainReceiver.process->signal(SIGTERM);
    plainReceiver.process->waitExit(20s);
}

TEST(PairedProcesses, OpensslClientWithTheKeyCompletesTheHandshakeAndAnotherKeyFails) {
    TempDir dest;
    PairedReceiver receiver = startPaired(dest.path(), kCode, {"--only-paired"});
    ASSERT_FALSE(receiver.pairedPort.empty()) << receiver.process->err();
    const auto client = [&](const std::string& keyHex) {
        return runToEnd({"openssl", "s_client", "-tls1_3", "-psk", keyHex, "-psk_identity",
                         "zapfer-pairing-1", "-ciphersuites", "TLS_AES_128_GCM_SHA256", "-connect",
                         "127.0.0.1:" + receiver.pairedPort},
                        60s);
    };
    const std::string keyHex = pythonPairingKey("7KQ3M4XD2HVF");
    ASSERT_EQ(keyHex, kKeyHex);
    const RunResult right = client(keyHex);
    EXPECT_EQ(right.status, 0) << right.out << right.err;
    EXPECT_NE(right.out.find("TLSv1.3, Cipher is TLS_AES_128_GCM_SHA256"), std::string::npos)
        << right.out;
    std::string wrongKey = keyHex;
    wrongKey.back() = wrongKey.back() == '0' ? '1' : '0';
    const RunResult wrong = client(wrongKey);
    EXPECT_NE(wrong.status, 0);
    EXPECT_NE(wrong.out.find("Cipher is (NONE)"), std::string::npos) << wrong.out;
    EXPECT_TRUE(receiver.process->waitForLine("paired handshake from 127.0.0.1 failed", 20s));
    EXPECT_EQ(failureLines(*receiver.process), 1) << "the right key failed nothing";
    EXPECT_TRUE(listDir(dest.path()).empty());
    stop(receiver);
}

TEST(PairedProcesses, PairStoresANewCodeForItsOwnerOnlyAndPrintsIt) {
    TempDir config;
    const std::string conf = config.file("Quorvel/Zapfer.conf");
    std::filesystem::create_directories(config.file("Quorvel"));
    writeFile(conf, "[General]\nDestDir=/tmp\nPairingCode=OLDOLDOLDOLD\n\n[Other]\nX=1\n");
    ::chmod(conf.c_str(), 0644);
    const RunResult made =
        runToEnd(cliCommand({"pair"}, {"env", "XDG_CONFIG_HOME=" + config.path()}), 60s);
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_EQ(made.out.size(), 15u) << made.out; // XXXX-XXXX-XXXX and a newline
    std::string stored = made.out.substr(0, 14);
    stored.erase(std::remove(stored.begin(), stored.end(), '-'), stored.end());
    EXPECT_EQ(readFile(conf),
              "[General]\nDestDir=/tmp\nPairingCode=" + stored + "\n\n[Other]\nX=1\n");
    struct stat status {};
    ASSERT_EQ(::stat(conf.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // A second run makes another code; a receiver then takes the stored one.
    const RunResult again =
        runToEnd(cliCommand({"pair"}, {"env", "XDG_CONFIG_HOME=" + config.path()}), 60s);
    EXPECT_NE(again.out, made.out);
    // A damaged stored code is refused rather than taken as none.
    writeFile(conf, "[General]\nPairingCode=0000\n");
    const RunResult damaged = runToEnd(cliCommand({"receive", "--port", "0", "--echo-port", "0"},
                                                  {"env", "XDG_CONFIG_HOME=" + config.path()}),
                                       60s);
    EXPECT_EQ(damaged.status, 2);
    EXPECT_NE(damaged.err.find("stored pairing code cannot be used"), std::string::npos)
        << damaged.err;
}
