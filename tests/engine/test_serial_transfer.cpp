// A sending engine and a receiving engine on the two ends of a serial line
// made of two ptys and a relay.

#include "serial_harness.h"

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
struct Line {
    explicit Line(const fs::path& dest, CommType type = CommType::Com1, bool overwrite = false)
        : receiver(type, relay.endA(), dest, "Receiving end", overwrite),
          sender(type, relay.endB(), {}, "Sending end") {}
    PtyRelay relay;
    SerialEngine receiver;
    SerialEngine sender;
};

ReceiveOutcome finishReceive(SerialEngine& receiver, int statusBefore = 0) {
    EXPECT_TRUE(
        receiver.events.waitUntil([&] { return receiver.events.statusClosed > statusBefore; }));
    return receiver.engine.finishReceive();
}

bool idle(Engine& engine) {
    return engine.state().LinkState == LinkState::Listening && engine.state().ReceiveEnabled == 1;
}

std::vector<SendFile> listOf(const std::vector<fs::path>& files) {
    std::vector<SendFile> list;
    for (const auto& f : files)
        list.push_back({f.string(), int64_t(fs::file_size(f))});
    return list;
}
} // namespace

TEST(SerialTransfer, FilesOfBoundarySizesArriveIdenticalAndNamesAreExchanged) {
    for (const CommType type : {CommType::Com1, CommType::Usb}) {
        SCOPED_TRACE(std::string(commTypeName(type)));
        TempDir source, dest;
        const int32_t block = blockSizeFor(type);
        // Around one block, an exact multiple (a zero-length last block) and more.
        const size_t sizes[] = {0, 1, size_t(block) - 1, size_t(block), 8192, 100 * 1024};
        std::vector<fs::path> files;
        std::vector<std::vector<uint8_t>> contents;
        for (size_t i = 0; i < std::size(sizes); ++i) {
            contents.push_back(randomBytes(sizes[i], uint32_t(i + 7)));
            files.push_back(source / ("file" + std::to_string(i) + ".bin"));
            writeFile(files.back(), contents.back());
        }
        Line line(dest.path(), type);
        const SendOutcome sent = line.sender.send(files);
        EXPECT_EQ(sent.peerError, 0);
        EXPECT_FALSE(sent.aborted);
        EXPECT_EQ(sent.filesDone, int(files.size()));
        const ReceiveOutcome received = finishReceive(line.receiver);
        EXPECT_FALSE(received.aborted);
        EXPECT_EQ(received.filesDone, int(files.size()));
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(readFile(dest / files[i].filename().string()), contents[i]) << files[i];
        EXPECT_EQ(listNames(dest.path()).size(), files.size()) << "no temporary file left";
        EXPECT_EQ(line.receiver.events.incoming, 1);
        EXPECT_EQ(line.sender.engine.progress().bytesDone,
                  line.sender.engine.progress().totalBytes);

        EXPECT_EQ(line.sender.engine.peerName(), "Receiving end");
        EXPECT_EQ(line.receiver.engine.peerName(), "Sending end");
        EXPECT_TRUE(idle(line.sender.engine));
        EXPECT_TRUE(line.receiver.events.waitUntil([&] { return idle(line.receiver.engine); }));
        const std::vector<Sound> linkUpFirst = {Sound::LinkUp, Sound::Completed};
        EXPECT_EQ(line.sender.events.sounds, linkUpFirst);
    }
}

TEST(SerialTransfer, TwentyFilesInOneSend) {
    TempDir source, dest;
    std::vector<fs::path> files;
    for (int i = 0; i < 20; ++i) {
        files.push_back(source / ("n" + std::to_string(i) + ".txt"));
        writeFile(files.back(), randomBytes(size_t(i) * 397, uint32_t(i)));
    }
    Line line(dest.path());
    EXPECT_EQ(line.sender.send(files).filesDone, 20);
    EXPECT_EQ(finishReceive(line.receiver).filesDone, 20);
    for (const auto& f : files)
        EXPECT_EQ(readFile(dest / f.filename().string()), readFile(f)) << f;
    EXPECT_EQ(line.receiver.events.files.size(), 20u);
}

TEST(SerialTransfer, RefusalsReachTheSenderAndWriteNothing) {
    TempDir source, dest;
    std::vector<fs::path> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(source / ("f" + std::to_string(i) + ".dat"));
        writeFile(files.back(), randomBytes(5000, uint32_t(i)));
    }
    {
        SCOPED_TRACE("name conflict");
        writeFile(dest / "f1.dat", {1, 2, 3});
        Line line(dest.path());
        const SendOutcome outcome = line.sender.send(files);
        EXPECT_EQ(outcome.peerError, PeerNameConflict);
        EXPECT_TRUE(outcome.aborted);
        EXPECT_EQ(outcome.transferIndex, -1);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"f1.dat"});
        EXPECT_EQ(readFile(dest / "f1.dat"), (std::vector<uint8_t>{1, 2, 3}));
        // The receive dialog the table opened is closed by the sender's abort.
        finishReceive(line.receiver);
        EXPECT_TRUE(line.receiver.events.waitUntil([&] { return idle(line.receiver.engine); }));
        fs::remove(dest / "f1.dat");
    }
    {
        SCOPED_TRACE("destination cannot be created");
        Line line(dest / "missing-folder");
        EXPECT_EQ(line.sender.send(files).peerError, PeerCannotCreate);
        EXPECT_FALSE(fs::exists(dest / "missing-folder"));
    }
    {
        SCOPED_TRACE("no space");
        // 100 entries of 2 GB each: 200 GB, more than the disk holds (checked below).
        TempDir small;
        std::vector<SendFile> list;
        for (int i = 0; i < 100; ++i)
            list.push_back({(source / ("big" + std::to_string(i))).string(), kMaxFileSize});
        Line line(small.path());
        ASSERT_TRUE(line.sender.beginAndConnect(list));
        line.sender.engine.startSending();
        ASSERT_TRUE(
            line.sender.events.waitUntil([&] { return line.sender.events.statusClosed > 0; }));
        const SendOutcome outcome = line.sender.engine.finishSend();
        if (outcome.peerError == 0)
            GTEST_SKIP() << "this file system has more than 200 GB free";
        EXPECT_EQ(outcome.peerError, PeerNoSpace);
        EXPECT_TRUE(listNames(small.path()).empty());
    }
}

TEST(SerialTransfer, AbortMidFileLeavesNoPartialAndKeepsTheOlderFile) {
    const std::vector<uint8_t> older(1000, 0x42);
    for (const bool senderCancels : {true, false}) {
        SCOPED_TRACE(senderCancels ? "sender cancels" : "receiver cancels");
        TempDir source, dest;
        const fs::path big = source / "f0.dat";
        writeFile(big, randomBytes(2 << 20, 3)); // 512 blocks: many seconds on COM1
        writeFile(dest / "f0.dat", older);
        Line line(dest.path(), CommType::Com1, /*overwrite*/ true);
        ASSERT_TRUE(line.sender.beginAndConnect(listOf({big})));
        line.sender.engine.startSending();
        ASSERT_TRUE(line.sender.events.waitUntil([&] {
            return line.sender.engine.state().BytesDone > 4096 || line.sender.events.statusClosed;
        }));
        ASSERT_EQ(line.sender.events.statusClosed, 0) << "the send ended before it could be cut";
        if (senderCancels)
            line.sender.engine.cancel();
        else
            line.receiver.engine.cancel();
        ASSERT_TRUE(
            line.sender.events.waitUntil([&] { return line.sender.events.statusClosed > 0; }));
        const SendOutcome sent = line.sender.engine.finishSend();
        EXPECT_TRUE(sent.aborted);
        EXPECT_EQ(sent.transferIndex, 0);
        EXPECT_EQ(sent.filesDone, 0);
        const ReceiveOutcome received = finishReceive(line.receiver);
        EXPECT_TRUE(received.aborted);
        EXPECT_EQ(received.filesDone, 0);
        EXPECT_EQ(listNames(dest.path()), std::vector<std::string>{"f0.dat"});
        EXPECT_EQ(readFile(dest / "f0.dat"), older);
        EXPECT_TRUE(idle(line.sender.engine));
        EXPECT_TRUE(line.receiver.events.waitUntil([&] { return idle(line.receiver.engine); }));

        // The line is usable again at once.
        const fs::path small = source / "again.txt";
        writeFile(small, {'o', 'k'});
        EXPECT_EQ(line.sender.send({small}).filesDone, 1);
        EXPECT_EQ(readFile(dest / "again.txt"), (std::vector<uint8_t>{'o', 'k'}));
    }
}

TEST(SerialTransfer, UnreadableFileIsDroppedByThePeerAndTheRestGoesThrough) {
    TempDir source, dest;
    std::vector<fs::path> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(source / ("f" + std::to_string(i) + ".dat"));
        writeFile(files.back(), randomBytes(9000, uint32_t(i)));
    }
    const auto list = listOf(files);
    fs::remove(files[1]); // gone since it was put in the list
    Line line(dest.path());
    ASSERT_TRUE(line.sender.beginAndConnect(list));
    line.sender.engine.startSending();
    ASSERT_TRUE(line.sender.events.waitUntil([&] { return line.sender.events.statusClosed > 0; }));
    const SendOutcome outcome = line.sender.engine.finishSend();
    EXPECT_FALSE(outcome.aborted);
    EXPECT_EQ(outcome.filesDone, 2);
    EXPECT_EQ(finishReceive(line.receiver).filesDone, 2);
    EXPECT_EQ(listNames(dest.path()), (std::vector<std::string>{"f0.dat", "f2.dat"}));
}
