// A sender engine against a responder engine over 127.0.0.1.

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

std::vector<fs::path> makeFiles(const TempDir& dir, int count, size_t size) {
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(dir / ("f" + std::to_string(i) + ".dat"));
        writeFile(files.back(), randomBytes(size, uint32_t(i)));
    }
    return files;
}
} // namespace

TEST(SocketTransfer, FilesOfBoundarySizesArriveIdentical) {
    TempDir source, dest;
    std::vector<fs::path> files;
    std::vector<std::vector<uint8_t>> contents;
    const size_t sizes[] = {0, 1, 32767, 32768, 32769, 1 << 20};
    for (size_t i = 0; i < std::size(sizes); ++i) {
        contents.push_back(randomBytes(sizes[i], uint32_t(i + 1)));
        files.push_back(source / ("file" + std::to_string(i) + ".bin"));
        writeFile(files.back(), contents.back());
    }
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());
    const SendOutcome outcome = sender.send(files);
    EXPECT_EQ(outcome.peerError, 0);
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, int(files.size()));
    const ReceiveOutcome received = finishReceive(responder);
    EXPECT_EQ(received.filesDone, int(files.size()));
    EXPECT_FALSE(received.aborted);
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(readFile(dest / files[i].filename().string()), contents[i]) << files[i];
    EXPECT_EQ(listNames(dest.path()).size(), files.size()) << "no temporary file left";
    EXPECT_EQ(responder.events.incoming, 1);
    EXPECT_EQ(responder.events.files.size(), files.size());
    expectIdle(responder.engine);
    expectIdle(sender.engine);
    EXPECT_EQ(sender.engine.state().AbortFlag, 0);
}

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
    EXPECT_FALSE(sender.engine.beginSend(tooMany, &why));
    EXPECT_EQ(why.reason, SendRefused::Reason::TooManyFiles);
    expectIdle(sender.engine);
}

TEST(SocketTransfer, RefusalsReachTheSenderAndWriteNothing) {
    TempDir source, dest;
    const auto files = makeFiles(source, 3, 5000);
    {
        SCOPED_TRACE("name conflict");
        writeFile(dest / "f1.dat", {1, 2, 3});
        Responder responder(dest.path());
        Sender sender(responder.engine.listenPort());
        const SendOutcome outcome = sender.send(files);
        EXPECT_EQ(outcome.peerError, PeerNameConflict);
        EXPECT_TRUE(outcome.aborted);
        EXPECT_EQ(outcome.transferIndex, -1);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"f1.dat"});
        EXPECT_EQ(readFile(dest / "f1.dat"), (std::vector<uint8_t>{1, 2, 3}));
        expectIdle(sender.engine);
        EXPECT_EQ(sender.engine.state().AbortFlag, 0) << "cleared once the outcome is taken";
        EXPECT_TRUE(responder.events.waitUntil(
            [&] { return responder.engine.state().LinkState == LinkState::Listening; }));
        fs::remove(dest / "f1.dat");
    }
    {
        SCOPED_TRACE("destination cannot be created");
        Responder responder(dest / "missing-folder");
        Sender sender(responder.engine.listenPort());
        EXPECT_EQ(sender.send(files).peerError, PeerCannotCreate);
        EXPECT_FALSE(fs::exists(dest / "missing-folder"));
    }
    {
        SCOPED_TRACE("no space");
        // 100 entries of 2 GB: more than the disk holds (checked below).
        TempDir small;
        std::vector<SendFile> list;
        for (int i = 0; i < 100; ++i)
            list.push_back({(source / ("big" + std::to_string(i))).string(), kMaxFileSize});
        Responder responder(small.path());
        Sender sender(responder.engine.listenPort());
        SendRefused why;
        ASSERT_TRUE(sender.engine.beginSend(list, &why)) << why.path;
        ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.connectingClosed > 0; }));
        sender.engine.startSending();
        ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.statusClosed > 0; }));
        const SendOutcome outcome = sender.engine.finishSend();
        if (outcome.peerError == 0)
            GTEST_SKIP() << "this file system has more than 200 GB free";
        EXPECT_EQ(outcome.peerError, PeerNoSpace);
        EXPECT_TRUE(listNames(small.path()).empty());
    }
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

TEST(SocketTransfer, AbortMidFileLeavesNoPartialAndKeepsTheOlderFile) {
    const std::vector<uint8_t> older(1000, 0x42);
    for (const bool senderCancels : {true, false}) {
        SCOPED_TRACE(senderCancels ? "sender cancels" : "receiver cancels");
        TempDir source, dest;
        const auto files = makeFiles(source, 2, 64 << 20);
        writeFile(dest / "f0.dat", older);
        Responder responder(dest.path(), /*overwrite*/ true);
        Sender sender(responder.engine.listenPort());

        std::vector<SendFile> list;
        for (const auto& f : files)
            list.push_back({f.string(), int64_t(fs::file_size(f))});
        ASSERT_TRUE(sender.engine.beginSend(list));
        ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.connectingClosed > 0; }));
        sender.engine.startSending();
        // Cancel once the first file is under way.
        ASSERT_TRUE(sender.events.waitUntil(
            [&] { return sender.engine.state().BytesDone > 0 || sender.events.statusClosed > 0; }));
        ASSERT_EQ(sender.events.statusClosed, 0) << "the send finished before it could be cut";
        if (senderCancels)
            sender.engine.cancel();
        else
            responder.engine.cancel();
        ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.statusClosed > 0; }));
        const SendOutcome sent = sender.engine.finishSend();
        EXPECT_TRUE(sent.aborted);
        EXPECT_EQ(sent.transferIndex, 0);
        EXPECT_EQ(sent.filesDone, 0);
        const ReceiveOutcome received = finishReceive(responder);
        EXPECT_TRUE(received.aborted);
        EXPECT_EQ(received.filesDone, 0);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"f0.dat"});
        EXPECT_EQ(readFile(dest / "f0.dat"), older);
        expectIdle(sender.engine);
        EXPECT_TRUE(responder.events.waitUntil(
            [&] { return responder.engine.state().LinkState == LinkState::Listening; }));
        EXPECT_EQ(responder.engine.state().ReceiveEnabled, 1);
    }
}

TEST(SocketTransfer, UnreadableFileIsSkippedAndTheRestGoesThrough) {
    TempDir source, dest;
    const auto files = makeFiles(source, 3, 40000);
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());
    std::vector<SendFile> list;
    for (const auto& f : files)
        list.push_back({f.string(), 40000});
    fs::remove(files[1]); // gone since it was put in the list
    ASSERT_TRUE(sender.engine.beginSend(list));
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.connectingClosed > 0; }));
    sender.engine.startSending();
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.statusClosed > 0; }));
    const SendOutcome outcome = sender.engine.finishSend();
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.sent, (std::vector<bool>{true, false, true})) << "tells which one was not";
    EXPECT_EQ(finishReceive(responder).filesDone, 2);
    EXPECT_EQ(listNames(dest.path()), (std::vector<std::string>{"f0.dat", "f2.dat"}));
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
    ASSERT_TRUE(sender.engine.beginSend({{files[0].string(), 10}}));
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
