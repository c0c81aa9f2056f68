// The paired link against the construction as written: the pairing code, the
// key from scrypt, and TLS 1.3 with the external PSK, checked against
// OpenSSL's own command line peers so that another program can interoperate.

#include "engine_events.h"
#include "engine_state.h"
#include "pairing_code.h"
#include "pairing_key.h"
#include "protocol.h"
#include "receive_session.h"
#include "sender.h"
#include "tls_link.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zapfer {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kCode[] = "7KQ3M4XD2HVF";
// scrypt("7KQ3M4XD2HVF", "zapfer-pairing-1", N=32768, r=8, p=1, 32), worked out
// once outside Zapfer.
constexpr char kCodeKeyHex[] = "f9fd2c60b0925dce492d27d195838145b0d98caae2457659de4352b34291ed06";
constexpr char kOtherCode[] = "ABCDEFGHIJKL";

std::string hex(const PairingKey& key) {
    std::string text;
    char digits[3];
    for (const uint8_t byte : key.bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

PairingKey keyOf(const char* code) {
    const auto key = derivePairingKey(code);
    EXPECT_TRUE(key.has_value());
    return key.value_or(PairingKey{});
}

// ---------------------------------------------------------------- the code

TEST(PairingCode, NewCodesAreTwelveAlphabetCharactersShownInThreeGroups) {
    const auto code = newPairingCode();
    ASSERT_TRUE(code.has_value());
    ASSERT_EQ(code->size(), 12u);
    for (const char c : *code)
        EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '2' && c <= '7')) << c;
    const std::string shown = formatPairingCode(*code);
    EXPECT_EQ(shown, code->substr(0, 4) + "-" + code->substr(4, 4) + "-" + code->substr(8, 4));
    EXPECT_EQ(formatPairingCode(kCode), "7KQ3-M4XD-2HVF");
    EXPECT_EQ(parsePairingCode(shown).code, *code);
}

TEST(PairingCode, EveryPositionCarriesItsFiveRandomBits) {
    // 1000 codes: P(a given symbol never appears at a given position) is
    // (31/32)^1000, about 1.6e-14, so a missing one means lost bits.
    std::set<std::string> codes;
    std::vector<std::set<char>> seen(12);
    for (int i = 0; i < 1000; ++i) {
        const auto code = newPairingCode();
        ASSERT_TRUE(code.has_value());
        codes.insert(*code);
        for (size_t p = 0; p < 12; ++p)
            seen[p].insert((*code)[p]);
    }
    EXPECT_EQ(codes.size(), 1000u);
    for (size_t p = 0; p < 12; ++p)
        EXPECT_EQ(seen[p].size(), 32u) << "position " << p;
}

TEST(PairingCode, TypedFormsAreAcceptedWhateverTheCaseSpacesAndDashes) {
    for (const char* typed :
         {"7KQ3-M4XD-2HVF", "7kq3-m4xd-2hvf", "7KQ3M4XD2HVF", " 7kQ3 m4Xd 2hvF ",
          "--7KQ3--M4XD 2HVF-", "7 K Q 3 M 4 X D 2 H V F"}) {
        const ParsedPairingCode parsed = parsePairingCode(typed);
        EXPECT_TRUE(parsed.valid()) << typed;
        EXPECT_EQ(parsed.code, kCode) << typed;
    }
}

TEST(PairingCode, AnythingElseIsRefusedWithItsReason) {
    struct Case {
        const char* typed;
        PairingCodeProblem problem;
        char character;
        size_t position;
        size_t length;
    };
    const Case cases[] = {
        {"", PairingCodeProblem::Empty, 0, 0, 0},
        {" - -- ", PairingCodeProblem::Empty, 0, 0, 0},
        {"7KQ3-M4XD-2HV", PairingCodeProblem::WrongLength, 0, 0, 11},
        {"7KQ3-M4XD-2HVFA", PairingCodeProblem::WrongLength, 0, 0, 13},
        // 0, 1, 8 and 9 are not in the alphabet (0 and O, 1 and I look alike).
        {"7KQ3-M4XD-2HV0", PairingCodeProblem::BadCharacter, '0', 13, 0},
        {"1KQ3M4XD2HVF", PairingCodeProblem::BadCharacter, '1', 0, 0},
        {"7KQ3-M8XD-2HVF", PairingCodeProblem::BadCharacter, '8', 6, 0},
        {"7KQ3_M4XD_2HVF", PairingCodeProblem::BadCharacter, '_', 4, 0},
        {"7KQ3\tM4XD2HVF", PairingCodeProblem::BadCharacter, '\t', 4, 0},
        {"7KQ3-M4XD-2HVF\n", PairingCodeProblem::BadCharacter, '\n', 14, 0},
        {"7KQ3-M4XD-2H\xC3\x9C", PairingCodeProblem::BadCharacter, '\xC3', 12, 0},
    };
    for (const Case& c : cases) {
        const ParsedPairingCode parsed = parsePairingCode(c.typed);
        EXPECT_FALSE(parsed.valid()) << c.typed;
        EXPECT_TRUE(parsed.code.empty()) << c.typed;
        EXPECT_EQ(parsed.problem, c.problem) << c.typed;
        EXPECT_EQ(parsed.character, c.character) << c.typed;
        EXPECT_EQ(parsed.position, c.position) << c.typed;
        EXPECT_EQ(parsed.length, c.length) << c.typed;
    }
    // Embedded NUL is a character like any other.
    const ParsedPairingCode nul = parsePairingCode(std::string_view("7KQ3\0M4XD2HVF", 13));
    EXPECT_EQ(nul.problem, PairingCodeProblem::BadCharacter);
    EXPECT_EQ(nul.position, 4u);
}

// ----------------------------------------------------------------- the key

TEST(PairingKey, AFixedCodeGivesTheKnownKeyWhicheverWayItIsTyped) {
    EXPECT_EQ(hex(keyOf(kCode)), kCodeKeyHex);
    EXPECT_EQ(hex(keyOf("7kq3-m4xd 2hvf")), kCodeKeyHex);
    EXPECT_NE(hex(keyOf(kOtherCode)), kCodeKeyHex);
    EXPECT_FALSE(derivePairingKey("7KQ3-M4XD-2HV0").has_value());
    EXPECT_FALSE(derivePairingKey("").has_value());
}

// Runs a command and returns what it printed; empty when it could not run.
std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr && output.size() < 65536)
        output += chunk;
    ::pclose(pipe);
    return output;
}

TEST(PairingKey, AgreesWithTheOpensslCommandLineScrypt) {
    const std::string printed =
        commandOutput("openssl kdf -keylen 32 -kdfopt pass:7KQ3M4XD2HVF "
                      "-kdfopt salt:zapfer-pairing-1 -kdfopt n:32768 -kdfopt r:8 -kdfopt p:1 "
                      "-kdfopt maxmem_bytes:67108864 SCRYPT 2>/dev/null");
    std::string digits;
    for (const char c : printed)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += char(std::tolower(static_cast<unsigned char>(c)));
    if (digits.size() != 64)
        GTEST_SKIP() << "this openssl cannot run scrypt: " << printed;
    EXPECT_EQ(digits, kCodeKeyHex);
    EXPECT_EQ(digits, hex(keyOf(kCode)));
}

// ------------------------------------------------------------ the link

// An openssl command line peer with its stdin and its output (stdout and
// stderr together) on pipes; killed when the test is done with it.
class OpensslPeer {
public:
    explicit OpensslPeer(std::vector<std::string> args) {
        args.insert(args.begin(), "openssl");
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        m_stdin.reset(in[1]);
        m_output.reset(out[0]);
        const UniqueFd childIn(in[0]);
        const UniqueFd childOut(out[1]);
        ::fcntl(m_output.get(), F_SETFL, O_NONBLOCK);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childIn.get(), 0);
        posix_spawn_file_actions_adddup2(&actions, childOut.get(), 1);
        posix_spawn_file_actions_adddup2(&actions, childOut.get(), 2);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawnp(&m_pid, "openssl", &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~OpensslPeer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool started() const { return m_pid > 0; }
    void write(const std::string& text) {
        ASSERT_EQ(::write(m_stdin.get(), text.data(), text.size()), ssize_t(text.size()));
    }
    // Reads until `needle` has been printed after `from`; bounded by `limit`.
    bool waitFor(const std::string& needle, std::chrono::milliseconds limit = 10s,
                 size_t from = 0) {
        const auto deadline = Clock::now() + limit;
        while (output.find(needle, from) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd ready{m_output.get(), POLLIN, 0};
            if (::poll(&ready, 1, int(std::min<int64_t>(left.count(), 100))) <= 0)
                continue;
            char chunk[65536];
            const ssize_t n = ::read(m_output.get(), chunk, sizeof chunk);
            if (n <= 0)
                return output.find(needle, from) != std::string::npos; // it ended
            output.append(chunk, size_t(n));
        }
        return true;
    }

    std::string output;

private:
    pid_t m_pid = -1;
    UniqueFd m_stdin;
    UniqueFd m_output;
};

std::vector<std::string> pskOptions(const char* code) {
    return {"-tls1_3",          "-psk",          hex(keyOf(code)),        "-psk_identity",
            "zapfer-pairing-1", "-ciphersuites", "TLS_AES_128_GCM_SHA256"};
}

void makeNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

UniqueFd connectTo(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    makeNonBlocking(fd.get());
    return fd;
}

// A listener on 127.0.0.1 at an ephemeral port.
class Listener {
public:
    Listener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(m_fd.get(), 4) == 0 &&
            ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    uint16_t port() const { return m_port; }
    // The next connection, waited for at most 10 s.
    UniqueFd accept() {
        pollfd ready{m_fd.get(), POLLIN, 0};
        if (::poll(&ready, 1, 10'000) != 1)
            return UniqueFd();
        UniqueFd fd(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        return fd;
    }

private:
    UniqueFd m_fd;
    uint16_t m_port = 0;
};

// What a TlsLink needs of an engine.
struct LinkHost {
    Waker waker;
    EngineState state;
    std::atomic<int32_t>& abortFlag = state.AbortFlag;
    LinkContext context() { return LinkContext{waker, abortFlag}; }
};

std::string textOfLength(size_t n, const std::string& tag) {
    std::string text;
    for (int line = 0; text.size() < n; ++line)
        text += tag + " line " + std::to_string(line) + " of the paired link\n";
    text.resize(n - 1);
    return text + "\n";
}

std::string receiveText(TlsLink& link, size_t n) {
    std::string text(n, '\0');
    if (!link.receiveExact(reinterpret_cast<uint8_t*>(text.data()), n, 5000))
        return {};
    return text;
}

bool sendText(TlsLink& link, const std::string& text) {
    return link.sendAll(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// openssl s_server for one connection, with the port it listens on.
struct OpensslServer {
    explicit OpensslServer(const char* code)
        : peer([code] {
              auto args = pskOptions(code);
              args.insert(args.begin(), "s_server");
              for (const char* arg : {"-nocert", "-accept", "127.0.0.1:0", "-naccept", "1"})
                  args.push_back(arg);
              return args;
          }()) {
        if (!peer.waitFor("ACCEPT 127.0.0.1:") ||
            !peer.waitFor("\n", 5s, peer.output.find("ACCEPT")))
            return;
        port = uint16_t(std::stoi(peer.output.substr(peer.output.find("127.0.0.1:") + 10)));
    }
    OpensslPeer peer;
    uint16_t port = 0;
};

TEST(TlsLink, ClientMovesBytesBothWaysWithOpensslServer) {
    OpensslServer server(kCode);
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    ASSERT_TRUE(outcome.ok()) << outcome.detail << "\n" << server.peer.output;
    EXPECT_TRUE(link.alive());

    // Several records' worth, to the server's output.
    const std::string upstream = textOfLength(100'000, "zapfer");
    ASSERT_TRUE(sendText(link, upstream));
    EXPECT_TRUE(server.peer.waitFor(upstream));
    EXPECT_NE(server.peer.output.find("CIPHER is TLS_AES_128_GCM_SHA256"), std::string::npos);

    const std::string downstream = "s_server speaking to zapfer\n";
    server.peer.write(downstream);
    EXPECT_EQ(receiveText(link, downstream.size()), downstream);
    EXPECT_EQ(host.abortFlag, 0);
}

TEST(TlsLink, ClientWithAnotherCodeIsRefusedByOpensslServer) {
    OpensslServer server(kOtherCode);
    ASSERT_NE(server.port, 0) << server.peer.output;
    LinkHost host;
    TlsLink link(connectTo(server.port), TlsRole::Client, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    EXPECT_EQ(outcome.failure, TlsFailure::WrongCode) << outcome.detail;
    EXPECT_FALSE(link.alive());
    EXPECT_TRUE(server.peer.waitFor("binder does not verify")) << server.peer.output;
    uint8_t byte = 0;
    EXPECT_FALSE(link.sendAll(std::span<const uint8_t>(&byte, 1)));
    EXPECT_LT(link.receiveSome(&byte, 1), 0);
}

// openssl s_client connected to a TlsLink server it was handed.
struct OpensslClient {
    OpensslClient(const char* code, uint16_t port)
        : peer([code, port] {
              auto args = pskOptions(code);
              args.insert(args.begin(), "s_client");
              args.push_back("-connect");
              args.push_back("127.0.0.1:" + std::to_string(port));
              return args;
          }()) {}
    OpensslPeer peer;
};

TEST(TlsLink, ServerMovesBytesBothWaysWithOpensslClientThroughAKeyUpdate) {
    Listener listener;
    OpensslClient client(kCode, listener.port());
    ASSERT_TRUE(client.peer.started());
    LinkHost host;
    TlsLink link(listener.accept(), TlsRole::Server, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    ASSERT_TRUE(outcome.ok()) << outcome.detail << "\n" << client.peer.output;

    const std::string upstream = "s_client speaking to zapfer\n";
    client.peer.write(upstream);
    EXPECT_EQ(receiveText(link, upstream.size()), upstream);
    const std::string downstream = textOfLength(100'000, "zapfer");
    ASSERT_TRUE(sendText(link, downstream));
    EXPECT_TRUE(client.peer.waitFor(downstream));

    // s_client's "K" asks this side to renew its keys as well: the answer is
    // written while reading, and both directions go on under the new keys.
    client.peer.write("K\n");
    ASSERT_TRUE(client.peer.waitFor("KEYUPDATE"));
    const std::string after = "still talking after the key update\n";
    client.peer.write(after);
    EXPECT_EQ(receiveText(link, after.size()), after);
    const size_t seen = client.peer.output.size();
    ASSERT_TRUE(sendText(link, "zapfer answers under new keys\n"));
    EXPECT_TRUE(client.peer.waitFor("zapfer answers under new keys", 10s, seen))
        << client.peer.output;
}

TEST(TlsLink, ServerRefusesOpensslClientWithAnotherCode) {
    Listener listener;
    OpensslClient client(kOtherCode, listener.port());
    ASSERT_TRUE(client.peer.started());
    LinkHost host;
    TlsLink link(listener.accept(), TlsRole::Server, keyOf(kCode), 32768, host.context());
    const TlsOutcome outcome = link.handshake(5000);
    EXPECT_EQ(outcome.failure, TlsFailure::WrongCode) << outcome.detail;
    EXPECT_FALSE(link.alive());
    EXPECT_TRUE(client.peer.waitFor("alert illegal parameter")) << client.peer.output;
}

// A TCP connection over 127.0.0.1: the dialling end and the accepted end.
struct Connection {
    Connection() {
        dialled = connectTo(listener.port());
        accepted = listener.accept();
    }
    Listener listener;
    UniqueFd dialled;
    UniqueFd accepted;
};

void sendRaw(int fd, std::span<const uint8_t> bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

// The plain link's first words: a connect frame and a file table.
std::vector<uint8_t> plainSenderBytes() {
    std::vector<uint8_t> bytes;
    for (const uint8_t code : {CMD_CONNECT, CMD_FILE_TABLE}) {
        const Frame frame = BuildFrame(code);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    bytes.resize(bytes.size() + 5 + 256, 0x41);
    return bytes;
}

TEST(TlsLink, APlainPeerIsRefusedOnEitherSide) {
    const PairingKey key = keyOf(kCode);
    {
        // A plain sender dialling the paired port.
        Connection connection;
        sendRaw(connection.dialled.get(), plainSenderBytes());
        LinkHost host;
        TlsLink server(std::move(connection.accepted), TlsRole::Server, key, 32768, host.context());
        const TlsOutcome outcome = server.handshake(5000);
        EXPECT_EQ(outcome.failure, TlsFailure::NotTls) << outcome.detail;
        EXPECT_FALSE(server.alive());
        EXPECT_EQ(host.abortFlag, 0); // no transfer was under way
    }
    {
        // A plain receiver answering the ClientHello with the plain protocol.
        Connection connection;
        const std::vector<uint8_t> abort(BuildFrame(CMD_ABORT).begin(),
                                         BuildFrame(CMD_ABORT).end());
        std::thread peer([&] {
            pollfd ready{connection.accepted.get(), POLLIN, 0};
            if (::poll(&ready, 1, 5000) == 1)
                sendRaw(connection.accepted.get(), abort);
        });
        LinkHost host;
        TlsLink client(std::move(connection.dialled), TlsRole::Client, key, 32768, host.context());
        const TlsOutcome outcome = client.handshake(5000);
        peer.join();
        EXPECT_EQ(outcome.failure, TlsFailure::NotTls) << outcome.detail;
        EXPECT_FALSE(client.alive());
    }
}

TEST(TlsLink, AHandshakeEndsWithinItsLimitOrAtAnAbortOrAtTheClose) {
    const PairingKey key = keyOf(kCode);
    {
        Connection silent;
        LinkHost host;
        TlsLink server(std::move(silent.accepted), TlsRole::Server, key, 32768, host.context());
        EXPECT_EQ(server.handshake(300).failure, TlsFailure::TimedOut);
        EXPECT_FALSE(server.alive());
    }
    {
        // A peer that sends a ClientHello's first bytes and stops.
        Connection truncated;
        const uint8_t start[] = {0x16, 0x03, 0x01, 0x01, 0x00, 0x01};
        sendRaw(truncated.dialled.get(), start);
        LinkHost host;
        TlsLink server(std::move(truncated.accepted), TlsRole::Server, key, 32768, host.context());
        EXPECT_EQ(server.handshake(300).failure, TlsFailure::TimedOut);
    }
    {
        Connection silent;
        LinkHost host;
        TlsLink client(std::move(silent.dialled), TlsRole::Client, key, 32768, host.context());
        std::thread user([&] {
            std::this_thread::sleep_for(100ms);
            host.abortFlag = 1;
            host.waker.wake();
        });
        // The limit is far away: only the abort can end it in time to pass.
        const TlsOutcome outcome = client.handshake(60'000);
        user.join();
        EXPECT_EQ(outcome.failure, TlsFailure::Aborted);
    }
    {
        Connection closed;
        closed.dialled.reset();
        LinkHost host;
        TlsLink server(std::move(closed.accepted), TlsRole::Server, key, 32768, host.context());
        EXPECT_EQ(server.handshake(5000).failure, TlsFailure::PeerClosed);
    }
}

// Two paired links over one connection, handshaken together.
struct PairedLinks {
    explicit PairedLinks(const char* serverCode = kCode) {
        Connection connection;
        serverSocketCopy.reset(::dup(connection.accepted.get()));
        client = std::make_unique<TlsLink>(std::move(connection.dialled), TlsRole::Client,
                                           keyOf(kCode), 32768, clientHost.context());
        server = std::make_unique<TlsLink>(std::move(connection.accepted), TlsRole::Server,
                                           keyOf(serverCode), 32768, serverHost.context());
        auto serverSide = std::async(std::launch::async, [&] { return server->handshake(5000); });
        clientOutcome = client->handshake(5000);
        serverOutcome = serverSide.get();
    }
    LinkHost clientHost;
    LinkHost serverHost;
    std::unique_ptr<TlsLink> client;
    std::unique_ptr<TlsLink> server;
    TlsOutcome clientOutcome;
    TlsOutcome serverOutcome;
    UniqueFd serverSocketCopy; // lets a test forge bytes as the server
};

TEST(TlsLink, TwoLinksWithDifferentCodesBothSayWrongCode) {
    PairedLinks links(kOtherCode);
    EXPECT_EQ(links.clientOutcome.failure, TlsFailure::WrongCode) << links.clientOutcome.detail;
    EXPECT_EQ(links.serverOutcome.failure, TlsFailure::WrongCode) << links.serverOutcome.detail;
}

uint8_t patternByte(size_t i, uint8_t seed) {
    return uint8_t((i * 131 + i / 7919 + seed) & 0xFF);
}

// Sends `total` bytes and receives as many through the non-blocking pieces,
// as the block pump does; false on a failure, a wrong byte or 30 s passing.
bool pumpBothWays(TlsLink& link, size_t total, uint8_t sendSeed, uint8_t receiveSeed) {
    std::vector<uint8_t> out(total);
    for (size_t i = 0; i < total; ++i)
        out[i] = patternByte(i, sendSeed);
    std::vector<uint8_t> in(64 * 1024);
    size_t sent = 0;
    size_t received = 0;
    const auto deadline = Clock::now() + 30s;
    while ((sent < total || received < total) && Clock::now() < deadline) {
        link.waitReady(sent < total, 100);
        const ssize_t got = link.receiveSome(in.data(), in.size());
        if (got == 0 || (got < 0 && errno != EAGAIN))
            return false;
        for (ssize_t i = 0; i < got; ++i, ++received)
            if (received >= total || in[size_t(i)] != patternByte(received, receiveSeed))
                return false;
        if (sent < total) {
            const ssize_t n =
                link.sendSome(out.data() + sent, std::min<size_t>(total - sent, 40'000));
            if (n < 0 && errno != EAGAIN)
                return false;
            if (n > 0)
                sent += size_t(n);
        }
    }
    return sent == total && received == total;
}

TEST(TlsLink, TwoLinksMoveMegabytesBothWaysAtOnceThenSeeTheClose) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok()) << links.clientOutcome.detail;
    ASSERT_TRUE(links.serverOutcome.ok()) << links.serverOutcome.detail;
    EXPECT_EQ(links.client->traits().dialect, Dialect::Stream);
    EXPECT_EQ(links.client->traits().blockSize, 32768);

    // Both sides write before they read, so the kernel's buffers fill and the
    // links must hold encrypted bytes back without losing or reordering any.
    constexpr size_t kTotal = 16 * 1024 * 1024;
    auto serverSide =
        std::async(std::launch::async, [&] { return pumpBothWays(*links.server, kTotal, 7, 3); });
    EXPECT_TRUE(pumpBothWays(*links.client, kTotal, 3, 7));
    EXPECT_TRUE(serverSide.get());

    // A command frame through the protocol's own helpers.
    ASSERT_TRUE(sendCommand(*links.client, CMD_PING));
    EXPECT_EQ(receiveCommand(*links.server, 2000), CMD_PING);

    // The server goes: its close_notify ends the client's reads.
    links.server.reset();
    uint8_t byte = 0;
    EXPECT_FALSE(links.client->receiveExact(&byte, 1, 2000));
    EXPECT_FALSE(links.client->alive());
    EXPECT_EQ(links.clientHost.abortFlag, 1); // the transfer on it is over
}

TEST(TlsLink, AForgedRecordEndsTheLinkAndNothingOfItIsRead) {
    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    const std::string before = "genuine bytes\n";
    ASSERT_TRUE(sendText(*links.server, before));
    EXPECT_EQ(receiveText(*links.client, before.size()), before);

    // An application data record of the right shape whose tag cannot verify.
    std::vector<uint8_t> forged = {0x17, 0x03, 0x03, 0x00, 0x40};
    forged.resize(forged.size() + 0x40, 0x5A);
    sendRaw(links.serverSocketCopy.get(), forged);
    uint8_t buffer[64];
    EXPECT_TRUE(links.client->waitReady(false, 2000));
    errno = 0;
    EXPECT_EQ(links.client->receiveSome(buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EPROTO);
    EXPECT_FALSE(links.client->alive());
    EXPECT_EQ(links.clientHost.abortFlag, 1);
}

// The receiving engine's part, cut down: the session fed from the link, its
// replies written back to it.
class SessionDriver : public SessionObserver, public ReplySink {
public:
    SessionDriver(TlsLink& link, EngineState& state, std::string folder)
        : m_link(link), m_folder(std::move(folder)), m_session(link.traits(), state, *this, *this) {
    }

    // Serves the peer until its table is complete or the link ends, at most 60 s.
    ReceiveOutcome serve() {
        std::vector<uint8_t> buffer(256 * 1024);
        const auto deadline = Clock::now() + 60s;
        while (!m_complete && m_link.alive() && Clock::now() < deadline) {
            if (m_link.waitReady(false, 100)) {
                const ssize_t got = m_link.receiveSome(buffer.data(), buffer.size());
                if (got > 0)
                    m_session.feed(std::span<const uint8_t>(buffer.data(), size_t(got)), nowMs());
            }
            m_session.tick(nowMs());
        }
        m_session.end(!m_complete);
        return m_outcome;
    }

    ReceivePolicy policy() override { return {m_folder, false, "Paired"}; }
    void incoming() override {}
    void fileStarted(const std::string&) override {}
    void closeStatus() override {}
    void sound(Sound) override {}
    void abortTransfer() override {}
    void transferComplete() override { m_complete = true; }
    void linkRequested() override {}
    void receiveEnded(const ReceiveOutcome& outcome) override { m_outcome = outcome; }
    void reply(std::span<const uint8_t> bytes) override { m_link.sendAll(bytes); }

private:
    static int64_t nowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   Clock::now().time_since_epoch())
            .count();
    }

    TlsLink& m_link;
    std::string m_folder;
    ReceiveSession m_session;
    bool m_complete = false;
    ReceiveOutcome m_outcome;
};

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TlsLink, TheEnginesSenderAndReceiveSessionRunOverItUnchanged) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/zapfer-tls-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    fs::create_directory(root / "from");
    fs::create_directory(root / "to");
    std::vector<SendFile> files;
    std::vector<uint8_t> table;
    for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>>{
             {"empty.bin", 0}, {"small.txt", 1000}, {"several blocks.bin", 3 * 1024 * 1024 + 5}}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = char(patternByte(i, uint8_t(name.size())));
        std::ofstream(root / "from" / name, std::ios::binary) << data;
        files.push_back({(root / "from" / name).string(), int64_t(size)});
        EntryBytes entry{};
        ASSERT_EQ(EncodeTransferEntry(files.back().path, files.back().size, entry),
                  EntryError::None);
        table.insert(table.end(), entry.begin(), entry.end());
    }

    PairedLinks links;
    ASSERT_TRUE(links.clientOutcome.ok() && links.serverOutcome.ok());
    auto received = std::async(std::launch::async, [&] {
        SessionDriver driver(*links.server, links.serverHost.state, (root / "to").string());
        return driver.serve();
    });
    NullEngineEvents events;
    const std::atomic<bool> stopping{false};
    Sender sender(1, *links.client, links.clientHost.state, events, links.clientHost.waker,
                  stopping);
    const SendOutcome sent = sender.run(files, table);
    const ReceiveOutcome outcome = received.get();

    EXPECT_FALSE(sent.aborted);
    EXPECT_EQ(sent.filesDone, 3);
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 3);
    for (const SendFile& file : files) {
        const fs::path stored = root / "to" / fs::path(file.path).filename();
        EXPECT_TRUE(fs::exists(stored)) << stored;
        EXPECT_TRUE(contentsOf(stored) == contentsOf(file.path)) << stored;
    }
    fs::remove_all(root);
}

} // namespace
} // namespace zapfer
