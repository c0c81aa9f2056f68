// A table the receiver refuses is told to its front end with what the
// history keeps of it, and leaves the outcome of the last real receive
// alone; a send names the peer it reached, on the LAN too.

#include "engine_harness.h"
#include "send_handshake.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

// The last part of each name as the peer sent it (its whole path, with
// backslashes).
std::vector<std::string> namesOf(const std::vector<FileOutcome>& files) {
    std::vector<std::string> names;
    for (const FileOutcome& file : files)
        names.push_back(file.nameAsSent.substr(file.nameAsSent.rfind('\\') + 1));
    return names;
}

} // namespace

TEST(RefusedTables, ANameConflictIsToldWithItsFilesAndLeavesTheLastReceiveAlone) {
    TempDir source, dest;
    writeFile(source / "a.txt", randomBytes(5000, 1));
    writeFile(source / "b.txt", randomBytes(700, 2));
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());

    const SendOutcome first = sender.send({source / "a.txt", source / "b.txt"});
    ASSERT_FALSE(first.aborted);
    EXPECT_EQ(first.peerAddress, loopback());
    ASSERT_TRUE(responder.events.waitUntil([&] { return responder.events.statusClosed >= 1; }));

    // The same names again, before the responder's front end took the first
    // receive's outcome.
    const SendOutcome refused = sender.send({source / "a.txt", source / "b.txt"});
    EXPECT_EQ(refused.peerError, PeerNameConflict);
    EXPECT_EQ(refused.peerAddress, loopback());
    ASSERT_TRUE(responder.events.waitUntil([&] { return !responder.events.refusals.empty(); }));
    {
        std::lock_guard lock(responder.events.mutex);
        ASSERT_EQ(responder.events.refusals.size(), 1u);
        const RefusedReceive& told = responder.events.refusals[0];
        EXPECT_EQ(told.refusal, PeerNameConflict);
        EXPECT_FALSE(told.peerNotAccepted);
        EXPECT_EQ(told.peerAddress, loopback());
        EXPECT_EQ(namesOf(told.files), (std::vector<std::string>{"a.txt", "b.txt"}));
        ASSERT_EQ(told.files.size(), 2u);
        EXPECT_EQ(told.files[0].size, 5000);
        EXPECT_EQ(told.files[1].size, 700);
        for (const FileOutcome& file : told.files) {
            EXPECT_EQ(file.result, FileResult::Refused);
            EXPECT_EQ(file.bytesDone, 0);
        }
        EXPECT_EQ(responder.events.incoming, 1) << "a refused table is no receive";
    }
    // Give the refused connection time to end, as a slow front end would.
    ASSERT_TRUE(responder.events.waitUntil(
        [&] { return responder.engine.snapshot().linkState == LinkState::Listening; }));

    const ReceiveOutcome kept = responder.engine.finishReceive();
    ASSERT_EQ(kept.files.size(), 2u);
    EXPECT_EQ(kept.filesDone, 2);
    EXPECT_EQ(kept.files[0].result, FileResult::Stored);
    EXPECT_EQ(kept.files[1].result, FileResult::Stored);
    EXPECT_EQ(kept.peerAddress, loopback());
}

TEST(RefusedTables, APeerNotOnTheAcceptListIsToldAsSuchWithItsTable) {
    TempDir source, dest;
    writeFile(source / "c.bin", randomBytes(300, 3));
    Responder responder(dest.path());
    EngineSettings settings = responder.engine.settings();
    settings.acceptFrom = {AcceptFrom::ListedAddresses, {*parseNetwork("198.18.0.9")}};
    responder.engine.setSettings(settings);
    Sender sender(responder.engine.listenPort());

    const SendOutcome refused = sender.send({source / "c.bin"});
    EXPECT_EQ(refused.peerError, PeerCannotCreate);
    ASSERT_TRUE(responder.events.waitUntil([&] { return !responder.events.refusals.empty(); }));
    std::lock_guard lock(responder.events.mutex);
    const RefusedReceive& told = responder.events.refusals[0];
    EXPECT_TRUE(told.peerNotAccepted);
    EXPECT_EQ(told.refusal, PeerCannotCreate);
    EXPECT_EQ(told.peerAddress, loopback());
    EXPECT_EQ(namesOf(told.files), std::vector<std::string>{"c.bin"});
    EXPECT_TRUE(listNames(dest.path()).empty());
}

// The peer that answered the probe is the one named, not an address set.
TEST(RefusedTables, ALanSendNamesThePeerThatAnsweredItsProbe) {
    TempDir source, dest;
    writeFile(source / "d.bin", randomBytes(2000, 4));
    RecordingEvents receiverEvents;
    LinkConfig receiverConfig;
    receiverConfig.listenPort = 0;
    receiverConfig.echoPort = 0;
    receiverConfig.listenAddress = loopback();
    Engine receiver(receiverEvents, receiverConfig);
    EngineSettings receiving;
    receiving.destDir = dest.path().string();
    receiver.setSettings(receiving);
    receiver.selectCommType(CommType::Lan, true);
    receiver.start();
    ASSERT_NE(receiver.echoPort(), 0);

    RecordingEvents senderEvents;
    LinkConfig senderConfig;
    senderConfig.listenPort = 0;
    senderConfig.echoPort = 0;
    senderConfig.listenAddress = loopback();
    senderConfig.probePort = receiver.echoPort();
    senderConfig.probeTargets = {loopback()};
    senderConfig.peerPort = receiver.listenPort();
    Engine sender(senderEvents, senderConfig);
    sender.selectCommType(CommType::Lan, true);
    sender.start();
    SendHandshake handshake(sender);

    const SendOutcome sent = runSend(handshake, senderEvents, sendFiles({source / "d.bin"}));
    EXPECT_FALSE(sent.aborted);
    EXPECT_EQ(sent.filesDone, 1);
    EXPECT_EQ(sent.peerAddress, loopback());
    sender.stop();
    receiver.stop();
}
