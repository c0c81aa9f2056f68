#pragma once

// Two network namespaces joined by a veth pair, for tests that need two
// machines on one LAN (root only).

#include "cli_peers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

namespace zapfer::testing {

// Two namespaces, "r" (receiver, 198.18.0.1) and "s" (sender, 198.18.0.2),
// deleted again on every way out.
class NamespacePair {
public:
    NamespacePair() {
        const std::string id = std::to_string(getpid());
        m_receiver = "zapfer-e2e-r-" + id;
        m_sender = "zapfer-e2e-s-" + id;
        const std::string receiverLink = "zr" + id;
        const std::string senderLink = "zs" + id;
        if (!run({"ip", "netns", "add", m_receiver}))
            return;
        m_created.push_back(m_receiver);
        if (!run({"ip", "netns", "add", m_sender}))
            return;
        m_created.push_back(m_sender);
        m_ready = run({"ip", "link", "add", receiverLink, "netns", m_receiver, "type", "veth",
                       "peer", "name", senderLink, "netns", m_sender}) &&
                  configure(m_receiver, receiverLink, "198.18.0.1/24") &&
                  configure(m_sender, senderLink, "198.18.0.2/24");
    }
    ~NamespacePair() {
        for (const auto& name : m_created)
            run({"ip", "netns", "del", name});
    }
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    bool ready() const { return m_ready; }
    const std::string& failure() const { return m_failure; }
    std::vector<std::string> inReceiver() const { return {"ip", "netns", "exec", m_receiver}; }
    std::vector<std::string> inSender() const { return {"ip", "netns", "exec", m_sender}; }

private:
    bool configure(const std::string& ns, const std::string& link, const std::string& address) {
        return run({"ip", "-n", ns, "addr", "add", address, "broadcast", "+", "dev", link}) &&
               run({"ip", "-n", ns, "link", "set", link, "up"}) &&
               run({"ip", "-n", ns, "link", "set", "lo", "up"});
    }
    bool run(const std::vector<std::string>& argv) {
        const RunResult result = runToEnd(argv, std::chrono::seconds(20));
        if (result.status == 0)
            return true;
        if (m_failure.empty())
            m_failure = ::testing::PrintToString(argv) + ": " + result.err;
        return false;
    }

    std::string m_receiver;
    std::string m_sender;
    std::vector<std::string> m_created;
    bool m_ready = false;
    std::string m_failure;
};

// A fixture whose tests are skipped where the namespaces cannot be made:
// without root, or without the kernel's support.
class NamespacePairTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        m_namespaces.emplace();
        if (!m_namespaces->ready())
            GTEST_SKIP() << "network namespaces are not available here: "
                         << m_namespaces->failure();
    }

    std::optional<NamespacePair> m_namespaces;
};

// zapfer-cli in the sender's namespace sends `path`, finding `receiver` by
// broadcast; it arrives whole in `dest` as `name`.
inline void expectSentOverLan(const NamespacePair& namespaces, Receiver& receiver,
                              const std::string& path, const std::string& dest,
                              const std::string& name, const std::string& payload) {
    using namespace std::chrono_literals;
    const RunResult sent = runToEnd(
        cliCommand({"send", "--lan", "--timeout", "20", path}, namespaces.inSender()), 60s);
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 30s))
        << receiver.process->out();
    EXPECT_TRUE(readFile(dest + "/" + name) == payload);
}

} // namespace zapfer::testing
