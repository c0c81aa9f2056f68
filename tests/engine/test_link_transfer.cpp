// A sending engine and a receiving engine joined by either link: over
// 127.0.0.1, or on the two ends of a serial line made of two ptys and a
// relay. What holds on both is one suite run for each.

#include "serial_harness.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {

// Two engines joined by the link of `type`.
class LinkedEngines {
public:
    LinkedEngines(CommType type, const fs::path& dest, bool overwrite = false) {
        if (isSerial(type)) {
            m_relay = std::make_unique<PtyRelay>();
            m_lineReceiver = std::make_unique<SerialEngine>(type, m_relay->endA(), dest,
                                                            "Receiving end", overwrite);
            m_lineSender =
                std::make_unique<SerialEngine>(type, m_relay->endB(), fs::path(), "Sending end");
        } else {
            m_responder = std::make_unique<Responder>(dest, overwrite);
            m_sender = std::make_unique<Sender>(m_responder->engine.listenPort());
        }
    }

    Engine& sender() { return m_sender ? m_sender->engine : m_lineSender->engine; }
    RecordingEvents& senderEvents() { return m_sender ? m_sender->events : m_lineSender->events; }
    Engine& receiver() { return m_responder ? m_responder->engine : m_lineReceiver->engine; }
    RecordingEvents& receiverEvents() {
        return m_responder ? m_responder->events : m_lineReceiver->events;
    }

    // Runs a whole send as the window does; returns its outcome.
    SendOutcome send(const std::vector<fs::path>& files) {
        return m_sender ? m_sender->send(files) : m_lineSender->send(files);
    }
    // Starts a send and waits for the link; false when it did not come up.
    bool beginAndConnect(const std::vector<SendFile>& files) {
        if (m_lineSender)
            return m_lineSender->beginAndConnect(files);
        SendRefused why;
        if (sender().send(files, &why) == kNoTransfer) {
            ADD_FAILURE() << int(why.reason) << " " << why.path;
            return false;
        }
        return senderEvents().waitUntil([&] { return senderEvents().connectingClosed > 0; });
    }
    // Starts the send begun by beginAndConnect and takes its outcome; false
    // when it did not end.
    bool sendAfterConnect(SendOutcome* outcome) {
        sender().startSending();
        if (!senderEvents().waitUntil([&] { return senderEvents().statusClosed > 0; }))
            return false;
        *outcome = sender().finishSend();
        return true;
    }
    // Waits for the receiver's end of a transfer and takes its outcome.
    ReceiveOutcome finishReceive(int statusBefore = 0) {
        EXPECT_TRUE(receiverEvents().waitUntil(
            [&] { return receiverEvents().statusClosed > statusBefore; }));
        return receiver().finishReceive();
    }

private:
    std::unique_ptr<PtyRelay> m_relay;
    std::unique_ptr<SerialEngine> m_lineReceiver;
    std::unique_ptr<SerialEngine> m_lineSender;
    std::unique_ptr<Responder> m_responder;
    std::unique_ptr<Sender> m_sender;
};

bool idle(Engine& engine) {
    return engine.state().LinkState == LinkState::Listening && engine.state().ReceiveEnabled == 1;
}

class LinkTransfer : public ::testing::TestWithParam<WireLink> {
protected:
    bool serial() const { return GetParam() == WireLink::Serial; }
    // The type each case runs on: the WAN type, or COM1 on the serial line.
    CommType type() const { return serial() ? CommType::Com1 : CommType::Wan; }
};

} // namespace

TEST_P(LinkTransfer, FilesOfBoundarySizesArriveIdenticalAndNamesAreExchanged) {
    const std::vector<CommType> types =
        serial() ? std::vector{CommType::Com1, CommType::Usb} : std::vector{CommType::Wan};
    for (const CommType type : types) {
        SCOPED_TRACE(std::string(commTypeName(type)));
        TempDir source, dest;
        const size_t block = size_t(blockSizeFor(type));
        // Around one block, an exact multiple (a zero-length last block) and more.
        const std::vector<size_t> sizes =
            serial() ? std::vector<size_t>{0, 1, block - 1, block, 8192, 100 * 1024}
                     : std::vector<size_t>{0, 1, block - 1, block, block + 1, 1 << 20};
        std::vector<fs::path> files;
        std::vector<std::vector<uint8_t>> contents;
        for (size_t i = 0; i < sizes.size(); ++i) {
            contents.push_back(randomBytes(sizes[i], uint32_t(i + 7)));
            files.push_back(source / ("file" + std::to_string(i) + ".bin"));
            writeFile(files.back(), contents.back());
        }
        LinkedEngines line(type, dest.path());
        const SendOutcome sent = line.send(files);
        EXPECT_EQ(sent.peerError, 0);
        EXPECT_FALSE(sent.aborted);
        EXPECT_EQ(sent.filesDone, int(files.size()));
        const ReceiveOutcome received = line.finishReceive();
        EXPECT_FALSE(received.aborted);
        EXPECT_EQ(received.filesDone, int(files.size()));
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(readFile(dest / files[i].filename().string()), contents[i]) << files[i];
        EXPECT_EQ(listNames(dest.path()).size(), files.size()) << "no temporary file left";
        EXPECT_EQ(line.receiverEvents().incoming, 1);
        EXPECT_EQ(line.receiverEvents().files.size(), files.size());
        EXPECT_EQ(line.sender().snapshot().progress.bytesDone,
                  line.sender().snapshot().progress.totalBytes);
        EXPECT_TRUE(idle(line.sender()));
        EXPECT_EQ(line.sender().state().AbortFlag, 0);
        if (serial()) {
            EXPECT_EQ(line.sender().peerName(), "Receiving end");
            EXPECT_EQ(line.receiver().peerName(), "Sending end");
            EXPECT_TRUE(line.receiverEvents().waitUntil([&] { return idle(line.receiver()); }));
            const std::vector<Sound> linkUpFirst = {Sound::LinkUp, Sound::Completed};
            EXPECT_EQ(line.senderEvents().sounds, linkUpFirst);
        } else {
            EXPECT_TRUE(idle(line.receiver()));
        }
    }
}

TEST_P(LinkTransfer, RefusalsReachTheSenderAndWriteNothing) {
    TempDir source, dest;
    const auto files = makeFiles(source, 3, 5000);
    {
        SCOPED_TRACE("name conflict");
        writeFile(dest / "f1.dat", {1, 2, 3});
        LinkedEngines line(type(), dest.path());
        const SendOutcome outcome = line.send(files);
        EXPECT_EQ(outcome.peerError, PeerNameConflict);
        EXPECT_TRUE(outcome.aborted);
        EXPECT_EQ(outcome.transferIndex, -1);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"f1.dat"});
        EXPECT_EQ(readFile(dest / "f1.dat"), (std::vector<uint8_t>{1, 2, 3}));
        EXPECT_TRUE(idle(line.sender()));
        EXPECT_EQ(line.sender().state().AbortFlag, 0) << "cleared once the outcome is taken";
        // On the serial line the receive dialog the table opened is closed by
        // the sender's abort.
        if (serial())
            line.finishReceive();
        EXPECT_TRUE(line.receiverEvents().waitUntil([&] { return idle(line.receiver()); }));
        fs::remove(dest / "f1.dat");
    }
    {
        SCOPED_TRACE("destination cannot be created");
        LinkedEngines line(type(), dest / "missing-folder");
        EXPECT_EQ(line.send(files).peerError, PeerCannotCreate);
        EXPECT_FALSE(fs::exists(dest / "missing-folder"));
    }
    {
        SCOPED_TRACE("no space");
        // 100 entries of 2 GB each: 200 GB, more than the disk holds (checked below).
        TempDir small;
        std::vector<SendFile> list;
        for (int i = 0; i < 100; ++i)
            list.push_back({(source / ("big" + std::to_string(i))).string(), kMaxFileSize});
        LinkedEngines line(type(), small.path());
        ASSERT_TRUE(line.beginAndConnect(list));
        SendOutcome outcome;
        ASSERT_TRUE(line.sendAfterConnect(&outcome));
        if (outcome.peerError == 0)
            GTEST_SKIP() << "this file system has more than 200 GB free";
        EXPECT_EQ(outcome.peerError, PeerNoSpace);
        EXPECT_TRUE(listNames(small.path()).empty());
    }
}

TEST_P(LinkTransfer, AbortMidFileLeavesNoPartialAndKeepsTheOlderFile) {
    const std::vector<uint8_t> older(1000, 0x42);
    for (const bool senderCancels : {true, false}) {
        SCOPED_TRACE(senderCancels ? "sender cancels" : "receiver cancels");
        TempDir source, dest;
        // Big enough to be cut in the middle: 512 blocks take many seconds on COM1.
        const auto files =
            serial() ? makeFiles(source, 1, 2 << 20) : makeFiles(source, 2, 64 << 20);
        writeFile(dest / "f0.dat", older);
        LinkedEngines line(type(), dest.path(), /*overwrite*/ true);
        ASSERT_TRUE(line.beginAndConnect(sendFiles(files)));
        line.sender().startSending();
        // Cancel once the first file is under way.
        ASSERT_TRUE(line.senderEvents().waitUntil([&] {
            return line.sender().state().BytesDone > 4096 || line.senderEvents().statusClosed;
        }));
        ASSERT_EQ(line.senderEvents().statusClosed, 0) << "the send ended before it could be cut";
        if (senderCancels)
            line.sender().cancel();
        else
            line.receiver().cancel();
        ASSERT_TRUE(
            line.senderEvents().waitUntil([&] { return line.senderEvents().statusClosed; }));
        const SendOutcome sent = line.sender().finishSend();
        EXPECT_TRUE(sent.aborted);
        EXPECT_EQ(sent.transferIndex, 0);
        EXPECT_EQ(sent.filesDone, 0);
        const ReceiveOutcome received = line.finishReceive();
        EXPECT_TRUE(received.aborted);
        EXPECT_EQ(received.filesDone, 0);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"f0.dat"});
        EXPECT_EQ(readFile(dest / "f0.dat"), older);
        EXPECT_TRUE(idle(line.sender()));
        EXPECT_TRUE(line.receiverEvents().waitUntil([&] { return idle(line.receiver()); }));

        // The link is usable again at once.
        const fs::path small = source / "again.txt";
        writeFile(small, {'o', 'k'});
        EXPECT_EQ(line.send({small}).filesDone, 1);
        EXPECT_EQ(readFile(dest / "again.txt"), (std::vector<uint8_t>{'o', 'k'}));
    }
}

TEST_P(LinkTransfer, UnreadableFileIsSkippedAndTheRestGoesThrough) {
    TempDir source, dest;
    const auto files = makeFiles(source, 3, serial() ? 9000 : 40000);
    const auto list = sendFiles(files);
    fs::remove(files[1]); // gone since it was put in the list
    LinkedEngines line(type(), dest.path());
    ASSERT_TRUE(line.beginAndConnect(list));
    SendOutcome outcome;
    ASSERT_TRUE(line.sendAfterConnect(&outcome));
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(outcome.sent, (std::vector<bool>{true, false, true})) << "tells which one was not";
    EXPECT_EQ(line.finishReceive().filesDone, 2);
    EXPECT_EQ(listNames(dest.path()), (std::vector<std::string>{"f0.dat", "f2.dat"}));
}

INSTANTIATE_TEST_SUITE_P(Links, LinkTransfer, ::testing::Values(WireLink::Socket, WireLink::Serial),
                         wireLinkName);

TEST(SerialTransfer, TwentyFilesInOneSend) {
    TempDir source, dest;
    std::vector<fs::path> files;
    for (int i = 0; i < 20; ++i) {
        files.push_back(source / ("n" + std::to_string(i) + ".txt"));
        writeFile(files.back(), randomBytes(size_t(i) * 397, uint32_t(i)));
    }
    LinkedEngines line(CommType::Com1, dest.path());
    EXPECT_EQ(line.send(files).filesDone, 20);
    EXPECT_EQ(line.finishReceive().filesDone, 20);
    for (const auto& f : files)
        EXPECT_EQ(readFile(dest / f.filename().string()), readFile(f)) << f;
    EXPECT_EQ(line.receiverEvents().files.size(), 20u);
}
