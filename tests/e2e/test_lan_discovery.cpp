// LAN discovery on the real ports 1755 and 1756, between two network
// namespaces joined by a veth pair: `send --lan` must find the receiver by
// broadcast alone.

#include "cli_peers.h"
#include "history_rows.h"
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

// The sender's history names the receiver that answered the broadcast.
TEST_F(LanDiscovery, SendLanRecordsThePeerThatAnswered) {
    const NamespacePair& namespaces = *m_namespaces;
    TempDir source, dest, senderData, receiverData;
    writeFile(source.file("named.bin"), randomBytes(3000, 10));
    std::vector<std::string> inReceiver = namespaces.inReceiver();
    for (const std::string& part : withData(receiverData.path()))
        inReceiver.push_back(part);
    Receiver receiver = startReceiver(dest.path(), {}, inReceiver);
    ASSERT_EQ(receiver.port, "1756") << receiver.process->err();

    std::vector<std::string> prefix = namespaces.inSender();
    for (const std::string& part : withData(senderData.path()))
        prefix.push_back(part);
    const RunResult sent = runToEnd(
        cliCommand({"send", "--lan", "--timeout", "20", source.file("named.bin")}, prefix), 60s);
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    const auto rows = readHistory(senderData.path());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].transfer.record.link, "lan");
    EXPECT_EQ(rows[0].transfer.record.peer, "198.18.0.1");
    EXPECT_EQ(rows[0].transfer.record.outcome, zapfer::history::TransferOutcome::Completed);

    receiver.process->signal(SIGTERM);
    EXPECT_EQ(receiver.process->waitExit(20s), 0) << receiver.process->err();
}
