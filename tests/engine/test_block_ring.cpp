// The sender's read-ahead ring: every block it hands out carries the bytes of
// the file at that block and a header that matches them, across wraps of the
// ring, go-backs to blocks it no longer holds, and a file that shrinks.

#include "block_ring.h"
#include "crc.h"
#include "engine_harness.h"
#include "protocol.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
constexpr int32_t kBlock = 4096;

UniqueFd openRead(const fs::path& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

// Block k as the ring gave it is block k of `content`, with its own header.
void expectBlock(const BlockRing& ring, const std::vector<uint8_t>& content, int32_t k) {
    const BlockRing::Block block = ring.block(k);
    const size_t offset = size_t(k) * kBlock;
    const size_t length = std::min<size_t>(kBlock, content.size() - offset);
    ASSERT_EQ(block.index, k);
    ASSERT_EQ(block.data.size(), length) << "block " << k;
    EXPECT_TRUE(std::equal(block.data.begin(), block.data.end(), content.begin() + long(offset)))
        << "block " << k;
    const auto header = BuildBlockHeader(k, BlockCrcBytewise(content.data() + offset, length));
    EXPECT_TRUE(std::equal(block.header.begin(), block.header.end(), header.begin()))
        << "header of block " << k;
}
} // namespace

TEST(BlockRing, BlocksMatchTheFileAcrossWrapsAndGoBacks) {
    TempDir dir;
    const auto path = dir / "file";
    // 37 whole blocks and a short last one: the ring of 8 wraps several times.
    const std::vector<uint8_t> content = randomBytes(37 * kBlock + 123, 5);
    writeFile(path, content);
    const UniqueFd fd = openRead(path);
    BlockRing ring(fd.get(), int64_t(content.size()), kBlock, 8, 3);
    ASSERT_EQ(ring.slots(), 8);

    // Forward in batches of uneven sizes, as a growing window asks.
    int32_t next = 0;
    for (const int32_t count : {1, 2, 5, 8, 8, 7, 6, 1}) {
        ASSERT_TRUE(ring.prepare(next, count));
        for (int32_t k = next; k < next + count; ++k)
            expectBlock(ring, content, k);
        next += count;
    }
    ASSERT_EQ(next, 38);
    // A go-back to blocks long overwritten reads them again.
    ASSERT_TRUE(ring.prepare(3, 8));
    for (int32_t k = 3; k < 11; ++k)
        expectBlock(ring, content, k);
    // Overlapping requests keep the earlier blocks they still cover.
    ASSERT_TRUE(ring.prepare(6, 8));
    for (int32_t k = 6; k < 14; ++k)
        expectBlock(ring, content, k);
    ASSERT_TRUE(ring.prepare(30, 8));
    for (int32_t k = 30; k < 38; ++k)
        expectBlock(ring, content, k);

    // Within a lap, each block's data follows its header, and the next block
    // follows it: the paired link encrypts a run of them without a copy.
    ASSERT_TRUE(ring.prepare(32, 6)); // slots 0 to 5
    for (int32_t k = 32; k < 38; ++k) {
        const BlockRing::Block block = ring.block(k);
        EXPECT_EQ(block.header.data() + block.header.size(), block.data.data()) << "block " << k;
        if (k > 32) {
            EXPECT_EQ(ring.block(k - 1).data.data() + kBlock, block.header.data()) << "block " << k;
        }
    }
}

TEST(BlockRing, RefusesWhatItCannotHoldOrRead) {
    TempDir dir;
    const auto path = dir / "file";
    const std::vector<uint8_t> content = randomBytes(20 * kBlock, 6);
    writeFile(path, content);
    const UniqueFd fd = openRead(path);
    BlockRing ring(fd.get(), int64_t(content.size()), kBlock, 4, 4);
    EXPECT_FALSE(ring.prepare(0, 5)) << "more blocks than the ring holds";
    EXPECT_FALSE(ring.prepare(18, 3)) << "past the file's last block";
    EXPECT_FALSE(ring.prepare(-1, 1));
    ASSERT_TRUE(ring.prepare(0, 4));

    // The file shrinks under the send: a block it no longer has is an error,
    // not stale or zeroed bytes, and neither is a block cut short.
    ASSERT_EQ(::truncate(path.c_str(), 10 * kBlock + 100), 0);
    EXPECT_FALSE(ring.prepare(12, 2));
    EXPECT_FALSE(ring.prepare(10, 1));
    // Blocks read before it shrank are still as they were read.
    ASSERT_TRUE(ring.prepare(0, 4));
    for (int32_t k = 0; k < 4; ++k)
        expectBlock(ring, content, k);
    EXPECT_TRUE(ring.prepare(8, 2));
}

TEST(BlockRing, SmallAndEmptyFiles) {
    TempDir dir;
    const auto small = dir / "small";
    const std::vector<uint8_t> content = randomBytes(kBlock + 1, 7);
    writeFile(small, content);
    const UniqueFd fd = openRead(small);
    BlockRing ring(fd.get(), int64_t(content.size()), kBlock);
    EXPECT_EQ(ring.slots(), 2) << "no more room than the file's blocks";
    ASSERT_TRUE(ring.prepare(0, 2));
    expectBlock(ring, content, 0);
    expectBlock(ring, content, 1);

    const auto empty = dir / "empty";
    writeFile(empty, {});
    const UniqueFd emptyFd = openRead(empty);
    BlockRing none(emptyFd.get(), 0, kBlock);
    EXPECT_TRUE(none.prepare(0, 0));
    EXPECT_FALSE(none.prepare(0, 1));
}
