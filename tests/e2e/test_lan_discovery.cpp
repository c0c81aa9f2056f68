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

using LanDiscovery = NamespacePairTest;

TEST_F(LanDiscovery, SendLanFindsTheReceiverByBroadcastOnTheRealPorts) {
    const NamespacePair& namespaces = *m_namespaces;
    TempDir source;
    TempDir dest;
    const std::string payload = randomBytes(100000, 9);
    writeFile(source.file("found.bin"), payload);

    // Declared after the namespaces, so the processes end before those go.
    Receiver receiver = startReceiver(dest.path(), {}, namespaces.inReceiver());
    ASSERT_EQ(receiver.port, "1756") << receiver.process->err();

    expectSentOverLan(namespaces, receiver, source.file("found.bin"), dest.path(), "found.bin",
                      payload);

    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
}
