#pragma once

// What the paired link's tests share: the code and key they use, TCP
// connections over 127.0.0.1, and two links handshaken over one of them.

#include "engine_state.h"
#include "loopback_socket.h"
#include "pairing_key.h"
#include "tls_link.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <span>
#include <string>

namespace zapfer::tls_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr char kCode[] = "7KQ3M4XD2HVF";
// scrypt("7KQ3M4XD2HVF", "zapfer-pairing-1", N=32768, r=8, p=1, 32), worked out
// once outside Zapfer.
inline constexpr char kCodeKeyHex[] =
    "f9fd2c60b0925dce492d27d195838145b0d98caae2457659de4352b34291ed06";
inline constexpr char kOtherCode[] = "ABCDEFGHIJKL";

inline std::string hex(const PairingKey& key) {
    std::string text;
    char digits[3];
    for (const uint8_t byte : key.bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

inline PairingKey keyOf(const char* code) {
    const auto key = derivePairingKey(code);
    EXPECT_TRUE(key.has_value());
    return key.value_or(PairingKey{});
}

inline void makeNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

inline UniqueFd connectTo(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = test::loopbackAddress(port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    makeNonBlocking(fd.get());
    return fd;
}

// A listener on 127.0.0.1 at an ephemeral port.
class Listener {
public:
    Listener() : m_bound(test::bindLoopback(SOCK_STREAM)) {}
    uint16_t port() const { return m_bound.port; }
    // The next connection, waited for at most 10 s.
    UniqueFd accept() {
        pollfd ready{m_bound.fd.get(), POLLIN, 0};
        if (::poll(&ready, 1, 10'000) != 1)
            return UniqueFd();
        UniqueFd fd(::accept4(m_bound.fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        return fd;
    }

private:
    test::LoopbackSocket m_bound;
};

// What a TlsLink needs of an engine.
struct LinkHost {
    Waker waker;
    EngineState state;
    std::atomic<int32_t>& abortFlag = state.AbortFlag;
    LinkContext context() { return LinkContext{waker, abortFlag}; }
};

inline std::string textOfLength(size_t n, const std::string& tag) {
    std::string text;
    for (int line = 0; text.size() < n; ++line)
        text += tag + " line " + std::to_string(line) + " of the paired link\n";
    text.resize(n - 1);
    return text + "\n";
}

inline std::string receiveText(TlsLink& link, size_t n) {
    std::string text(n, '\0');
    if (!link.receiveExact(reinterpret_cast<uint8_t*>(text.data()), n, 5000))
        return {};
    return text;
}

inline bool sendText(TlsLink& link, const std::string& text) {
    return link.sendAll(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

struct Connection {
    Connection() {
        dialled = connectTo(listener.port());
        accepted = listener.accept();
    }
    Listener listener;
    UniqueFd dialled;
    UniqueFd accepted;
};

inline void sendRaw(int fd, std::span<const uint8_t> bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

// The plain link's first words: a connect frame and a file table.

inline uint8_t patternByte(size_t i, uint8_t seed) {
    return uint8_t((i * 131 + i / 7919 + seed) & 0xFF);
}

// Two paired links over one connection, handshaken together.
struct PairedLinks {
    explicit PairedLinks(const char* serverCode = kCode) {
        Connection connection;
        serverSocketCopy.reset(::dup(connection.accepted.get()));
        clientSocketCopy.reset(::dup(connection.dialled.get()));
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
    UniqueFd clientSocketCopy; // lets a test see what waits for the client
};

} // namespace zapfer::tls_test
