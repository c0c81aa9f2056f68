// A serial block that is never acknowledged ends the send after a bounded
// number of sendings, with a reason the front ends word, and the peer drops
// the partial file. The block's index has no CRC: one corrupted index leaves
// the receiver waiting for another block than the sender's next.

#include "protocol.h"
#include "serial_harness.h"
#include "serial_timing.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> frame(uint8_t code) {
    const Frame f = BuildFrame(code);
    return {f.begin(), f.end()};
}

// Descriptors of this process open on something inside `folder`: a file
// being received has no name there, but its descriptor points into it.
int descriptorsInto(const fs::path& folder) {
    int count = 0;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        count += !ec && target.starts_with(folder.string() + "/");
    }
    return count;
}

// Exactly n bytes from the peer's side of the line, or what came in 3 s.
std::vector<uint8_t> readExactly(WirePeer& peer, size_t n) {
    std::vector<uint8_t> bytes;
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (bytes.size() < n && Clock::now() < end) {
        const auto more = peer.read(n - bytes.size(), 200);
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
    return bytes;
}

// A null-modem line of two ptys that, on the way from end B to end A,
// rewrites the index of the first block numbered `from` into `to`, as line
// noise could.
class IndexCorruptingLine {
public:
    IndexCorruptingLine(int32_t from, int32_t to)
        : m_a(makePty()), m_b(makePty()), m_stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          m_from(from), m_to(to) {
        for (const int fd : {m_a.master.get(), m_b.master.get()})
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        m_thread = std::thread([this] { run(); });
    }
    ~IndexCorruptingLine() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stop.get(), &one, sizeof one);
        m_thread.join();
    }
    const std::string& endA() const { return m_a.path; }
    const std::string& endB() const { return m_b.path; }
    bool corrupted() const { return m_corrupted; }

private:
    // Bytes from B on their way to A: an index is held until whole.
    void pass(uint8_t byte, std::vector<uint8_t>& out) {
        if (m_indexLeft > 0) {
            m_held.push_back(byte);
            if (--m_indexLeft > 0)
                return;
            if (!m_corrupted && int32_t(getLe32(m_held.data())) == m_from) {
                putLe32(m_held.data(), uint32_t(m_to));
                m_corrupted = true;
            }
            out.insert(out.end(), m_held.begin(), m_held.end());
            m_held.clear();
            return;
        }
        out.push_back(byte);
        m_window = (m_window << 8) | byte;
        if (m_window == 0x5CFF5C11u) // CMD_BLOCK's frame
            m_indexLeft = 4;
    }

    void run() {
        struct Way {
            int from;
            int to;
            bool corrupting;
            std::vector<uint8_t> pending;
        };
        Way ways[2] = {{m_b.master.get(), m_a.master.get(), true, {}},
                       {m_a.master.get(), m_b.master.get(), false, {}}};
        for (int round = 0; round < 600'000; ++round) {
            pollfd fds[5] = {{m_stop.get(), POLLIN, 0}};
            nfds_t count = 1;
            for (auto& way : ways) {
                fds[count++] = {way.from, short(way.pending.size() < 65536 ? POLLIN : 0), 0};
                fds[count++] = {way.to, short(way.pending.empty() ? 0 : POLLOUT), 0};
            }
            if ((::poll(fds, count, 1000) < 0 && errno != EINTR) || fds[0].revents)
                return;
            for (auto& way : ways) {
                uint8_t buffer[8192];
                const ssize_t got =
                    way.pending.size() < 65536 ? ::read(way.from, buffer, sizeof buffer) : 0;
                for (ssize_t i = 0; i < got; ++i) {
                    if (way.corrupting)
                        pass(buffer[i], way.pending);
                    else
                        way.pending.push_back(buffer[i]);
                }
                if (!way.pending.empty()) {
                    const ssize_t put = ::write(way.to, way.pending.data(), way.pending.size());
                    if (put > 0)
                        way.pending.erase(way.pending.begin(), way.pending.begin() + put);
                }
            }
        }
    }

    Pty m_a;
    Pty m_b;
    UniqueFd m_stop;
    const int32_t m_from;
    const int32_t m_to;
    uint32_t m_window = 0;
    int m_indexLeft = 0;
    std::vector<uint8_t> m_held;
    std::atomic<bool> m_corrupted{false};
    std::thread m_thread;
};

} // namespace

TEST(SerialBlockRetries, ACorruptedIndexEndsTheSendAndThePeerDropsThePartialFile) {
    TempDir root;
    fs::create_directory(root / "dest");
    writeFile(root / "dest" / "keep.txt", {'k'});
    // Four blocks of 4096 bytes (COM1), the last one short.
    const std::vector<uint8_t> content(3 * 4096 + 100, 'x');
    writeFile(root / "data.bin", content);

    // Block 1 arrives as a second block 0: the receiver takes it in place of
    // block 0, then refuses block 2 for ever, waiting for block 1.
    IndexCorruptingLine line(1, 0);
    SerialEngine receiver(CommType::Com1, line.endA(), root / "dest", "Receiving end");
    SerialEngine sender(CommType::Com1, line.endB(), {}, "Sending end");
    const SendOutcome outcome = sender.send({root / "data.bin"});
    EXPECT_TRUE(line.corrupted());
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(outcome.failure, SendFailure::BlockNotAcknowledged);
    EXPECT_EQ(outcome.filesDone, 0);
    ASSERT_EQ(outcome.files.size(), 1u);
    EXPECT_EQ(outcome.files[0].result, FileResult::Aborted);

    // The receiver heard the abort: its dialog closes, the partial file is gone.
    EXPECT_TRUE(receiver.events.waitUntil([&] { return receiver.events.statusClosed > 0; }));
    const ReceiveOutcome received = receiver.engine.finishReceive();
    EXPECT_TRUE(received.aborted);
    EXPECT_EQ(received.filesDone, 0);
    EXPECT_EQ(listNames(root / "dest"), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(descriptorsInto(root / "dest"), 0);

    // The line works again for the next send.
    writeFile(root / "small.txt", {'s'});
    const SendOutcome next = sender.send({root / "small.txt"});
    EXPECT_EQ(next.filesDone, 1);
    EXPECT_EQ(next.failure, SendFailure::None);
}

TEST(SerialBlockRetries, EverySendingCountsAndTheAbortFollowsTheLast) {
    TempDir source;
    writeFile(source / "r.bin", std::vector<uint8_t>(100, 'r'));
    Pty pty = makePty();
    SerialEngine sender(CommType::Com1, pty.path, {}, "Initiator");
    WirePeer peer = WirePeer::pty(pty.master.get());

    ASSERT_NE(sender.engine.send({{(source / "r.bin").string(), 100}}), kNoTransfer);
    peer.answerDial("Refusing end");
    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.connectingClosed > 0; }));
    sender.engine.startSending();
    std::vector<uint8_t> head = readExactly(peer, 4);
    for (int i = 0; i < 20 && head == frame(CMD_KEEPALIVE); ++i)
        head = readExactly(peer, 4);
    ASSERT_EQ(head, frame(CMD_FILE_TABLE));
    ASSERT_EQ(readExactly(peer, 5 + 256).size(), 261u);
    peer.sendCommand(CMD_OK);
    ASSERT_EQ(readExactly(peer, 5).size(), 5u);
    peer.sendCommand(CMD_OK);

    // Every sending of block 0 is refused, a bad CRC or silence alike.
    int sendings = 0;
    for (int i = 0; i < 30; ++i) {
        const std::vector<uint8_t> next = readExactly(peer, 4);
        if (next != frame(CMD_BLOCK)) {
            EXPECT_EQ(next, frame(CMD_ABORT));
            break;
        }
        ++sendings;
        const std::vector<uint8_t> rest = readExactly(peer, 8 + 100);
        ASSERT_EQ(rest.size(), 108u);
        EXPECT_EQ(getLe32(rest.data()), 0u);
        if (i % 3 != 2) // every third one is met with silence
            peer.sendCommand(CMD_BLOCK_BAD);
    }
    EXPECT_EQ(sendings, kSerialBlockAttempts);
    peer.sendCommand(CMD_ACCEPTED);

    ASSERT_TRUE(sender.events.waitUntil([&] { return sender.events.statusClosed > 0; }));
    const SendOutcome outcome = sender.engine.finishSend();
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(outcome.failure, SendFailure::BlockNotAcknowledged);
}
