// LAN discovery on the real ports 1755 and 1756, between two network
// namespaces joined by a veth pair: `send --lan` must find the receiver by
// broadcast alone.

#include "cli_peers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

using namespace zapfer::testing;
using namespace std::chrono_literals;

namespace {

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
        const RunResult result = runToEnd(argv, 20s);
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

} // namespace

TEST(LanDiscovery, SendLanFindsTheReceiverByBroadcastOnTheRealPorts) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces";
    const NamespacePair namespaces;
    if (!namespaces.ready())
        GTEST_SKIP() << "network namespaces are not available here: " << namespaces.failure();

    TempDir source;
    TempDir dest;
    const std::string payload = randomBytes(100000, 9);
    writeFile(source.file("found.bin"), payload);

    // Declared after the namespaces, so the processes end before those go.
    Receiver receiver = startReceiver(dest.path(), {}, namespaces.inReceiver());
    ASSERT_EQ(receiver.port, "1756") << receiver.process->err();

    const RunResult sent =
        runToEnd(cliCommand({"send", "--lan", "--timeout", "20", source.file("found.bin")},
                            namespaces.inSender()),
                 60s);
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    ASSERT_TRUE(receiver.process->waitForLine("1 of 1 files received successfully", 30s))
        << receiver.process->out();
    EXPECT_TRUE(readFile(dest.file("found.bin")) == payload);

    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
}
