// The receiver writes the blocks of one read together: whatever the order in
// which blocks come, each reply leaves only after its block was written, a
// block the disk fails is never acknowledged, and nothing after it is.

#include "engine_harness.h"
#include "wire_peer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
constexpr int32_t kBlock = 32768;

uint32_t zlibCrc(const Bytes& bytes) {
    return static_cast<uint32_t>(crc32_z(0, bytes.data(), bytes.size()));
}

Bytes blockReply(uint8_t code, int32_t k) {
    const auto reply = BuildBlockReply(code, k);
    return Bytes(reply.begin(), reply.end());
}

// The peer's messages of `order`, in that order and in one piece, so that
// the responder reads many blocks at once; `corrupt` blocks are sent with a
// wrong CRC. The replies the responder must give, in their order.
struct Burst {
    Bytes messages;
    Bytes replies;
};
Burst burst(const Bytes& data, const std::vector<std::pair<int32_t, bool>>& order) {
    Burst result;
    for (const auto& [k, corrupt] : order) {
        const Bytes message = blockMessage(k, blockOf(data, k, kBlock), corrupt ? 1 : 0);
        result.messages.insert(result.messages.end(), message.begin(), message.end());
        const Bytes reply = blockReply(corrupt ? CMD_BLOCK_BAD : CMD_BLOCK_OK, k);
        result.replies.insert(result.replies.end(), reply.begin(), reply.end());
    }
    return result;
}

// Opens a one-file table of `data` as "f.bin" on `peer`.
void openFile(WirePeer& peer, const Bytes& data) {
    peer.sendTable({{"f.bin", int32_t(data.size())}});
    ASSERT_EQ(peer.readCommand(), CMD_OK);
    peer.sendOpen(0);
    ASSERT_EQ(peer.readCommand(), CMD_ACCEPTED);
}

// Sends the blocks of `order` to a fresh responder in one piece, closes the
// file and returns the outcome; the file must arrive as `data`.
void receiveInOneBurst(const Bytes& data, const std::vector<std::pair<int32_t, bool>>& order) {
    TempDir dest;
    Responder responder(dest.path());
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    ASSERT_TRUE(peer.connected());
    openFile(peer, data);
    const Burst messages = burst(data, order);
    peer.send(messages.messages);
    EXPECT_EQ(peer.read(messages.replies.size()), messages.replies);
    peer.sendCommand(CMD_CLOSE_FILE);
    EXPECT_EQ(peer.readCommand(), CMD_OK);
    peer.close();
    ASSERT_TRUE(responder.events.waitUntil(
        [&] { return responder.engine.state().LinkState == LinkState::Listening; }));
    const ReceiveOutcome outcome = responder.engine.finishReceive();
    EXPECT_EQ(readFile(dest / "f.bin"), data);
    ASSERT_EQ(outcome.files.size(), 1u);
    EXPECT_EQ(outcome.files[0].crc32, zlibCrc(data));
}

std::vector<std::pair<int32_t, bool>> inOrder(int32_t from, int32_t to) {
    std::vector<std::pair<int32_t, bool>> order;
    for (int32_t k = from; k < to; ++k)
        order.emplace_back(k, false);
    return order;
}

// The responder's file system refuses to go past some point: sends the
// blocks `from`.. of a file of `blocks` blocks in one piece and expects the
// blocks before the failing one acknowledged, then the abort, and nothing
// kept. `failing` runs once the file is open and tells which block fails.
void expectFailure(const fs::path& dest, int32_t blocks, int32_t from,
                   const std::function<int32_t()>& failing) {
    Responder responder(dest);
    const Bytes data = randomBytes(size_t(blocks) * kBlock, 18);
    WirePeer peer = WirePeer::tcp(responder.engine.listenPort());
    ASSERT_TRUE(peer.connected());
    openFile(peer, data);
    const int32_t failed = failing();
    ASSERT_GE(failed, from);
    ASSERT_LT(failed, blocks);
    peer.send(burst(data, inOrder(from, blocks)).messages);
    Bytes expected = burst(data, inOrder(from, failed)).replies;
    const Bytes abort = frameBytes(CMD_ABORT);
    expected.insert(expected.end(), abort.begin(), abort.end());
    // Everything that comes until the responder hangs up: one more reply
    // would be a block acknowledged that was never stored.
    EXPECT_EQ(peer.read(expected.size() + 64, 5000), expected) << "failing block " << failed;
    ASSERT_TRUE(responder.events.waitUntil(
        [&] { return responder.engine.state().LinkState == LinkState::Listening; }));
    responder.engine.finishReceive();
    EXPECT_FALSE(fs::exists(dest / "f.bin"));
}

// Lowers the largest file this process may write for as long as it lives;
// a write past it fails with EFBIG instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
    bool m_set = false;
};
} // namespace

TEST(GatheredWrites, BlocksReadTogetherArriveWholeInTheirOrder) {
    for (const size_t size : {size_t(40) * kBlock + 1000, size_t(3) * kBlock, size_t(100)}) {
        SCOPED_TRACE(size);
        const Bytes data = randomBytes(size, uint32_t(size));
        receiveInOneBurst(data, inOrder(0, FileBlocks(Dialect::Stream, int64_t(size), kBlock)));
    }
}

TEST(GatheredWrites, ResentAndOutOfOrderBlocksBreakARunAndStayRight) {
    const Bytes data = randomBytes(size_t(12) * kBlock + 7, 5);
    // A resend of a block already taken, blocks swapped, a corrupt block and
    // its repeat, a block far ahead and the gap filled afterwards.
    std::vector<std::pair<int32_t, bool>> order = {{0, false}, {1, false}, {2, false},  {1, false},
                                                   {3, false}, {5, false}, {4, false},  {6, true},
                                                   {6, false}, {7, false}, {11, false}, {12, false},
                                                   {8, false}, {9, false}, {10, false}, {2, false}};
    receiveInOneBurst(data, order);
    // The same blocks, each corrupt once before it comes right.
    std::vector<std::pair<int32_t, bool>> repeated;
    for (int32_t k = 0; k <= 12; ++k) {
        repeated.emplace_back(k, true);
        repeated.emplace_back(k, false);
    }
    receiveInOneBurst(data, repeated);
}

TEST(GatheredWrites, AWriteFailingInARunAcknowledgesOnlyTheBlocksBeforeIt) {
    TempDir dest;
    // Blocks from 4 on reserve no space ahead (they do not follow on from
    // the reserved part), so the write itself meets the limit: half-way
    // through block 6, after blocks 4 and 5 were written by the same call.
    FileSizeLimit limit(rlim_t(6) * kBlock + kBlock / 2);
    ASSERT_TRUE(limit.set());
    expectFailure(dest.path(), 10, 4, [] { return 6; });
}

TEST(GatheredWrites, ADiskFillingUpInARunAcknowledgesOnlyTheBlocksBeforeIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system takes root";
    TempDir root;
    const fs::path dest = root / "small";
    fs::create_directory(dest);
    if (::mount("zapfer-test", dest.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    // The table fits the free space; what another program writes once the
    // file is open leaves room for about 12 of its 16 blocks.
    expectFailure(dest, 16, 0, [&] {
        writeFile(dest / "filler", randomBytes(size_t(640) << 10, 3));
        struct statvfs space {};
        EXPECT_EQ(::statvfs(dest.c_str(), &space), 0);
        return int32_t(int64_t(space.f_bavail) * int64_t(space.f_frsize) / kBlock);
    });
    fs::remove(dest / "filler");
    EXPECT_EQ(::umount2(dest.c_str(), MNT_DETACH), 0);
}
