// A sender engine against a responder engine over 127.0.0.1: what only the
// socket link does, and the transfer API. What holds on both links is in
// test_link_transfer.cpp.

#include "engine_harness.h"

#include <gtest/gtest.h>

#include <thread>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
void expectIdle(Engine& engine) {
    EXPECT_EQ(engine.state().LinkState, LinkState::Listening);
    EXPECT_EQ(engine.state().ReceiveEnabled, 1);
}

// Waits for the responder's end of a transfer and takes its outcome.
ReceiveOutcome finishReceive(Responder& responder) {
    EXPECT_TRUE(responder.events.waitUntil([&] { return responder.events.statusClosed > 0; }));
    return responder.engine.finishReceive();
}

} // namespace

TEST(SocketTransfer, HundredFilesInOneTableAndTheHundredAndFirstRefused) {
    TempDir source, dest;
    const auto files = makeFiles(source, 100, 100);
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());
    const SendOutcome outcome = sender.send(files);
    EXPECT_EQ(outcome.filesDone, 100);
    EXPECT_EQ(finishReceive(responder).filesDone, 100);
    EXPECT_EQ(listNames(dest.path()).size(), 100u);

    // One more than a table holds is refused before anything goes out.
    std::vector<SendFile> tooMany(101, SendFile{files[0].string(), 100});
    SendRefused why;
    EXPECT_EQ(sender.engine.send(tooMany, &why), kNoTransfer);
    EXPECT_EQ(why.reason, SendRefused::Reason::TooManyFiles);
    expectIdle(sender.engine);
}

TEST(SocketTransfer, OverwriteReplacesAnExistingFile) {
    TempDir source, dest;
    const auto files = makeFiles(source, 1, 70000);
    writeFile(dest / "f0.dat", std::vector<uint8_t>(200000, 7)); // longer than the new one
    Responder responder(dest.path(), /*overwrite*/ true);
    Sender sender(responder.engine.listenPort());
    EXPECT_EQ(sender.send(files).filesDone, 1);
    EXPECT_EQ(finishReceive(responder).filesDone, 1);
    EXPECT_EQ(readFile(dest / "f0.dat"), readFile(files[0]));
}

TEST(SocketTransfer, CancelWhileConnectingToNobody) {
    // A port nobody listens on: the connect loop runs until cancelled.
    TempDir dest;
    uint16_t deadPort;
    {
        Responder gone(dest.path());
        deadPort = gone.engine.listenPort();
    }
    Sender sender(deadPort);
    TempDir source;
    const auto files = makeFiles(source, 1, 10);
    ASSERT_NE(sender.engine.send({{files[0].string(), 10}}), kNoTransfer);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sender.events.connectingClosed, 0);
    sender.engine.cancel();
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.connectingClosed > 0; }));
    const SendOutcome outcome = sender.engine.finishSend();
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 0);
    expectIdle(sender.engine);
}

// Every event names its transfer, and each transfer ends with an outcome per
// file: what the window, zapfer-cli and a history rely on.
TEST(TransferApi, EventsNameTheirTransferAndOutcomesListEveryFile) {
    TempDir source, dest;
    const auto files = makeFiles(source, 3, 40000);
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());

    const SendOutcome first = sender.send({files[0]});
    const ReceiveOutcome firstIn = finishReceive(responder);
    fs::remove(files[1]); // unreadable when its turn comes
    std::vector<SendFile> list = sendFiles({files[0]});
    list.push_back({files[1].string(), 40000});
    list.push_back({files[2].string(), 40000});
    ASSERT_TRUE(fs::remove(dest / "f0.dat"));
    const SendOutcome second = runSend(sender.handshake, sender.events, list);
    const ReceiveOutcome secondIn = finishReceive(responder);

    EXPECT_NE(first.id, kNoTransfer);
    EXPECT_NE(first.id, second.id);
    {
        std::lock_guard lock(sender.events.mutex);
        EXPECT_EQ(sender.events.endedIds, (std::vector<TransferId>{first.id, second.id}));
        // The unreadable file was opened on the peer before it could not be read.
        EXPECT_EQ(sender.events.fileIds,
                  (std::vector<TransferId>{first.id, second.id, second.id, second.id}));
    }
    ASSERT_EQ(second.files.size(), 3u);
    EXPECT_EQ(second.files[0].result, FileResult::Sent);
    EXPECT_EQ(second.files[0].bytesDone, 40000);
    EXPECT_EQ(second.files[1].result, FileResult::SkippedUnreadable);
    EXPECT_EQ(second.files[1].bytesDone, 0);
    EXPECT_EQ(second.files[2].result, FileResult::Sent);

    EXPECT_NE(firstIn.id, secondIn.id);
    EXPECT_EQ(responder.events.lastReceive, secondIn.id);
    ASSERT_EQ(secondIn.files.size(), 3u);
    EXPECT_EQ(secondIn.files[0].nameAsStored, "f0.dat");
    EXPECT_EQ(secondIn.files[0].result, FileResult::Stored);
    EXPECT_EQ(secondIn.files[1].result, FileResult::Failed) << "opened, closed without data";
    EXPECT_EQ(secondIn.files[2].result, FileResult::Stored);
    EXPECT_EQ(secondIn.files[2].bytesDone, 40000);
    EXPECT_EQ(secondIn.filesDone, 2);
}

TEST(TransferApi, CancelledWhileConnectingEndsTheSendThroughTheHandshake) {
    TempDir dest, source;
    uint16_t deadPort;
    {
        Responder gone(dest.path());
        deadPort = gone.engine.listenPort();
    }
    Sender sender(deadPort);
    const auto files = makeFiles(source, 1, 10);
    const TransferId id = sender.handshake.begin(sendFiles(files));
    ASSERT_NE(id, kNoTransfer);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // dialling by now
    EXPECT_FALSE(sender.handshake.connectingClosed(true)) << "no status dialog follows";
    EXPECT_TRUE(sender.handshake.outcome().aborted);
    EXPECT_EQ(sender.handshake.outcome().id, id);
    // The engine's own close of that Connecting dialog comes late and names
    // the cancelled send, which the next send does not take for its own.
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.lastConnecting == id; }));
    EXPECT_FALSE(sender.handshake.owns(id));
    expectIdle(sender.engine);
}

// The engine refuses what the window's send list and zapfer-cli refuse, by
// the same rules, before anything goes out.
TEST(TransferApi, FilesThatCannotArriveAsThemselvesAreRefusedUpFront) {
    TempDir source, dest;
    const auto files = makeFiles(source, 1, 10);
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());
    const std::string folder = source.path().string();
    const struct {
        std::vector<SendFile> files;
        SendRefusal expected;
    } cases[] = {
        {{{files[0].string(), 10}, {folder + "/sub/F0.DAT", 10}}, SendRefusal::DuplicateName},
        {{{folder + "/back\\slash", 1}}, SendRefusal::NameUnsafe},
        {{{folder + "/tab\there", 1}}, SendRefusal::NameUnsafe},
        {{{folder + "/" + std::string(126, 'n'), 1}}, SendRefusal::NameTooLong},
        {{{files[0].string(), kMaxFileSize + 1}}, SendRefusal::TooLarge},
    };
    for (const auto& c : cases) {
        SendRefused why;
        EXPECT_EQ(sender.engine.send(c.files, &why), kNoTransfer);
        EXPECT_EQ(why.reason, SendRefused::Reason::File);
        EXPECT_EQ(why.file, c.expected) << why.path;
        expectIdle(sender.engine);
    }
    EXPECT_EQ(checkSendable("ok.txt", kMaxFileSize), SendRefusal::None);
    EXPECT_TRUE(sameSendName("Report.PDF", "report.pdf"));
    EXPECT_FALSE(sameSendName("report.pdf", "report.pdf2"));
    EXPECT_TRUE(listNames(dest.path()).empty());
}
