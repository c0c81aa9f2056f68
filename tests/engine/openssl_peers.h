#pragma once

// openssl s_server and s_client as the paired link's peers: another TLS
// stack given only the construction's options.

#include "tls_test_support.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace zapfer::tls_test {

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

inline std::vector<std::string> pskOptions(const char* code) {
    return {"-tls1_3",          "-psk",          hex(keyOf(code)),        "-psk_identity",
            "zapfer-pairing-1", "-ciphersuites", "TLS_AES_128_GCM_SHA256"};
}

// openssl s_server for one connection, with the port it listens on.
struct OpensslServer {
    // With the construction's options for `code`.
    explicit OpensslServer(const char* code) : OpensslServer(withPsk(code)) {}
    explicit OpensslServer(std::vector<std::string> options) : peer(withServer(options)) {
        if (!peer.waitFor("ACCEPT 127.0.0.1:") ||
            !peer.waitFor("\n", 5s, peer.output.find("ACCEPT")))
            return;
        port = uint16_t(std::stoi(peer.output.substr(peer.output.find("127.0.0.1:") + 10)));
    }
    static std::vector<std::string> withPsk(const char* code) {
        auto options = pskOptions(code);
        options.push_back("-nocert");
        return options;
    }
    static std::vector<std::string> withServer(std::vector<std::string> options) {
        options.insert(options.begin(), "s_server");
        for (const char* arg : {"-accept", "127.0.0.1:0", "-naccept", "1"})
            options.push_back(arg);
        return options;
    }

    OpensslPeer peer;
    uint16_t port = 0;
};

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

} // namespace zapfer::tls_test
