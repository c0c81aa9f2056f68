// LAN discovery on the real ports 1755 and 1756, between two network
// namespaces joined by a veth pair: `send --lan` must find the receiver by
// broadcast alone.

#include "cli_peers.h"
#include "network_namespaces.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

using namespace zapfer::testing;
using namespace std::chrono_literals;

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
