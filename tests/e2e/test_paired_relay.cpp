// What travels on the wire of the paired link: a relay between zapfer-cli
// sender and receiver records every byte, and a marker from the file never
// shows in it, with the right code or another. The same relay on the plain
// link does see it, so that the check can fail. And openssl s_server, given
// only the construction's options, accepts zapfer-cli's paired send.

#include "cli_peers.h"
#include "loopback_socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

constexpr char kCode[] = "7KQ3-M4XD-2HVF";
constexpr char kKeyHex[] = "f9fd2c60b0925dce492d27d195838145b0d98caae2457659de4352b34291ed06";

// Takes one connection on an ephemeral port of 127.0.0.1, connects on to
// `target`, and copies both ways until both ends closed, recording all.
class Relay {
public:
    explicit Relay(uint16_t target) : m_listener(zapfer::test::bindLoopback(SOCK_STREAM, 0, 1)) {
        if (m_listener.fd)
            m_thread = std::thread([this, target] { run(target); });
    }
    ~Relay() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    uint16_t port() const { return m_listener.port; }
    std::string recorded() {
        std::lock_guard lock(m_mutex);
        return m_recorded;
    }

private:
    void run(uint16_t target) {
        pollfd waiting{m_listener.fd.get(), POLLIN, 0};
        for (int i = 0; i < 600 && !m_stop && ::poll(&waiting, 1, 100) == 0; ++i) {
        }
        if (m_stop || !(waiting.revents & POLLIN))
            return;
        zapfer::UniqueFd near(::accept4(m_listener.fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        zapfer::UniqueFd far(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in address = zapfer::test::loopbackAddress(target);
        if (near.get() < 0 ||
            ::connect(far.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return;
        pollfd ends[2] = {{near.get(), POLLIN, 0}, {far.get(), POLLIN, 0}};
        bool open[2] = {true, true};
        char buffer[65536];
        // Bounded: a minute of copying at most.
        for (int round = 0; round < 600'000 && !m_stop && (open[0] || open[1]); ++round) {
            for (int side = 0; side < 2; ++side)
                ends[side].events = open[side] ? POLLIN : 0;
            if (::poll(ends, 2, 100) <= 0)
                continue;
            for (int side = 0; side < 2; ++side) {
                if (!open[side] || !(ends[side].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::recv(ends[side].fd, buffer, sizeof buffer, 0);
                const int other = ends[1 - side].fd;
                if (n <= 0) {
                    open[side] = false;
                    ::shutdown(other, SHUT_WR);
                    continue;
                }
                {
                    std::lock_guard lock(m_mutex);
                    m_recorded.append(buffer, size_t(n));
                }
                for (ssize_t sent = 0; sent < n;) {
                    const ssize_t m = ::send(other, buffer + sent, size_t(n - sent), MSG_NOSIGNAL);
                    if (m <= 0)
                        break;
                    sent += m;
                }
            }
        }
    }

    zapfer::test::LoopbackSocket m_listener;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_recorded;
    std::thread m_thread;
};

// The file: random bytes with the marker in three places.
std::string markedFile(const std::string& marker) {
    return randomBytes(10'000, 1) + marker + randomBytes(70'000, 2) + marker +
           randomBytes(5'000, 3) + marker;
}

bool contains(const std::string& haystack, const std::string& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

struct Started {
    std::unique_ptr<ChildProcess> process;
    std::string plainPort;
    std::string pairedPort;
};

Started receiverWithCode(const std::string& dest) {
    Started started;
    started.process = std::make_unique<ChildProcess>(
        cliCommand({"receive", "--port", "0", "--echo-port", "0", "--paired-port", "0",
                    "--pairing-code", kCode, "--dest", dest}));
    if (const auto line = started.process->waitForLine("listening on port ", 30s))
        started.plainPort = line->substr(std::string("listening on port ").size());
    const std::string lead = "listening for paired peers on port ";
    if (const auto line = started.process->waitForLine(lead, 30s))
        started.pairedPort = line->substr(lead.size());
    return started;
}

RunResult sendThrough(std::vector<std::string> extra, const std::string& file) {
    std::vector<std::string> args = {"send", "--to", "127.0.0.1", "--timeout", "20"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file);
    return runToEnd(cliCommand(args), 120s);
}

} // namespace

TEST(PairedWire, ARelayRecordingEveryByteFindsNoMarkerOnThePairedLinkButDoesOnThePlainOne) {
    TempDir source;
    TempDir dest;
    const std::string marker = randomBytes(64, 99);
    const std::string bytes = markedFile(marker);
    writeFile(source.file("marked.bin"), bytes);
    Started receiver = receiverWithCode(dest.path());
    ASSERT_FALSE(receiver.pairedPort.empty()) << receiver.process->err();
    const uint16_t paired = uint16_t(std::stoi(receiver.pairedPort));
    const uint16_t plain = uint16_t(std::stoi(receiver.plainPort));
    {
        Relay relay(paired);
        const RunResult wrong = sendThrough(
            {"--paired-port", std::to_string(relay.port()), "--pairing-code", "ABCDEFGHIJKL"},
            source.file("marked.bin"));
        EXPECT_EQ(wrong.status, 1);
        EXPECT_NE(wrong.err.find("The peer has a different pairing code"), std::string::npos)
            << wrong.err;
        EXPECT_TRUE(receiver.process->waitForLine("paired handshake from 127.0.0.1 failed", 20s));
        EXPECT_FALSE(relay.recorded().empty());
        EXPECT_FALSE(contains(relay.recorded(), marker));
        EXPECT_TRUE(listDir(dest.path()).empty());
    }
    {
        Relay relay(paired);
        const RunResult right =
            sendThrough({"--paired-port", std::to_string(relay.port()), "--pairing-code", kCode},
                        source.file("marked.bin"));
        EXPECT_EQ(right.status, 0) << right.err;
        EXPECT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 20s));
        EXPECT_EQ(readFile(dest.file("marked.bin")), bytes);
        EXPECT_GT(relay.recorded().size(), bytes.size());
        EXPECT_FALSE(contains(relay.recorded(), marker));
    }
    std::filesystem::remove(dest.file("marked.bin"));
    {
        Relay relay(plain);
        const RunResult clear =
            sendThrough({"--port", std::to_string(relay.port())}, source.file("marked.bin"));
        EXPECT_EQ(clear.status, 0) << clear.err;
        EXPECT_TRUE(contains(relay.recorded(), marker)) << "the relay must see a plain transfer";
    }
    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0);
}

TEST(PairedWire, OpensslServerWithTheKeyAcceptsZapferCliSendAndAnotherKeyDoesNot) {
    TempDir source;
    writeFile(source.file("t.txt"), "to s_server\n");
    // s_server ends when its input does: it gets one that stays open a while.
    const auto server = [](const std::string& keyHex) {
        return std::make_unique<ChildProcess>(std::vector<std::string>{
            "bash", "-c",
            "exec openssl s_server -tls1_3 -psk " + keyHex +
                " -psk_identity zapfer-pairing-1 -ciphersuites TLS_AES_128_GCM_SHA256 -nocert "
                "-accept 127.0.0.1:0 -naccept 1 < <(exec sleep 60 2>/dev/null)"});
    };
    const auto portOf = [](ChildProcess& process) {
        const auto line = process.waitForLine("ACCEPT 127.0.0.1:", 20s);
        return line ? line->substr(std::string("ACCEPT 127.0.0.1:").size()) : std::string();
    };
    {
        auto accepting = server(kKeyHex);
        const std::string port = portOf(*accepting);
        ASSERT_FALSE(port.empty()) << accepting->err();
        const RunResult sent =
            runToEnd(cliCommand({"send", "--to", "127.0.0.1", "--paired-port", port, "--timeout",
                                 "3", "--pairing-code", kCode, source.file("t.txt")}),
                     120s);
        // The handshake went through: the send got as far as its table,
        // which s_server cannot answer.
        EXPECT_NE(sent.out.find("connected; sending 1 file"), std::string::npos)
            << sent.out << sent.err;
        EXPECT_EQ(sent.err.find("pairing code"), std::string::npos) << sent.err;
        EXPECT_TRUE(accepting->waitForLine("CIPHER is TLS_AES_128_GCM_SHA256", 20s))
            << accepting->out();
        accepting->signal(SIGTERM);
        accepting->waitExit(20s);
    }
    {
        std::string otherKey = kKeyHex;
        otherKey.front() = otherKey.front() == 'f' ? 'e' : 'f';
        auto refusing = server(otherKey);
        const std::string port = portOf(*refusing);
        ASSERT_FALSE(port.empty()) << refusing->err();
        const RunResult sent =
            runToEnd(cliCommand({"send", "--to", "127.0.0.1", "--paired-port", port, "--timeout",
                                 "20", "--pairing-code", kCode, source.file("t.txt")}),
                     120s);
        EXPECT_EQ(sent.status, 1);
        EXPECT_NE(sent.err.find("The peer has a different pairing code"), std::string::npos)
            << sent.err;
        refusing->signal(SIGTERM);
        refusing->waitExit(20s);
    }
}
