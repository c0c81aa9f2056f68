#include "crc.h"
#include "engine_harness.h"
#include "protocol.h"
#include "whole_file_crc.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

using namespace zapfer;

namespace {

uint32_t zlibCrc(const std::vector<uint8_t>& bytes) {
    return static_cast<uint32_t>(crc32_z(0, bytes.data(), bytes.size()));
}

std::vector<uint8_t> randomBytes(std::mt19937& random, size_t n) {
    std::vector<uint8_t> bytes(n);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& b : bytes)
        b = uint8_t(byte(random));
    return bytes;
}

// Splits `bytes` as a sender does: FileBlocks blocks of BlockLength each.
void feedAll(WholeFileCrc& crc, const std::vector<uint8_t>& bytes, int32_t blockSize,
             const std::vector<int32_t>& order) {
    for (const int32_t k : order) {
        const int32_t length = BlockLength(k, int64_t(bytes.size()), blockSize);
        const uint8_t* data = bytes.data() + int64_t(k) * blockSize;
        crc.setBlock(k, BlockCrc(data, size_t(length)), uint32_t(length));
    }
}

std::vector<int32_t> inOrder(int32_t blocks) {
    std::vector<int32_t> order(size_t(blocks > 0 ? blocks : 0));
    for (int32_t k = 0; k < blocks; ++k)
        order[size_t(k)] = k;
    return order;
}

} // namespace

TEST(WholeFileCrc, EqualsZlibCrcForRandomSizesBlockSizesAndOrders) {
    std::mt19937 random(20261207);
    const int32_t blockSizes[] = {512, 4096, 32768, 65536};
    std::uniform_int_distribution<int> sizeOf(1, 300000);
    for (int round = 0; round < 40; ++round) {
        const auto bytes = randomBytes(random, size_t(sizeOf(random)));
        const int32_t blockSize = blockSizes[round % 4];
        const Dialect dialect = round % 3 == 0 ? Dialect::Line : Dialect::Stream;
        const int32_t blocks = FileBlocks(dialect, int64_t(bytes.size()), blockSize);
        auto order = inOrder(blocks);
        if (round % 2 == 1)
            std::shuffle(order.begin(), order.end(), random);
        WholeFileCrc crc(blocks);
        feedAll(crc, bytes, blockSize, order);
        ASSERT_TRUE(crc.complete());
        EXPECT_EQ(crc.value(), zlibCrc(bytes))
            << "round " << round << ", " << bytes.size() << " bytes in blocks of " << blockSize;
    }
}

TEST(WholeFileCrc, ExactMultipleOfTheBlockSizeAndTheEmptyLastSerialBlock) {
    std::mt19937 random(7);
    const auto bytes = randomBytes(random, 4 * 4096);
    for (const Dialect dialect : {Dialect::Stream, Dialect::Line}) {
        // A serial line sends one more block, of no bytes, after a full last one.
        const int32_t blocks = FileBlocks(dialect, int64_t(bytes.size()), 4096);
        WholeFileCrc crc(blocks);
        feedAll(crc, bytes, 4096, inOrder(blocks));
        EXPECT_EQ(crc.value(), zlibCrc(bytes));
    }
}

TEST(WholeFileCrc, ResentBlockReplacesItsOwnEntry) {
    std::mt19937 random(11);
    const auto bytes = randomBytes(random, 10 * 1024 + 77);
    const int32_t blockSize = 1024;
    const int32_t blocks = FileBlocks(Dialect::Stream, int64_t(bytes.size()), blockSize);
    WholeFileCrc crc(blocks);
    // Go-back-N: blocks 0..6 out, then 3.. again, every block of it once more.
    std::vector<int32_t> order = {0, 1, 2, 3, 4, 5, 6};
    for (int32_t k = 3; k < blocks; ++k)
        order.push_back(k);
    feedAll(crc, bytes, blockSize, order);
    EXPECT_EQ(crc.value(), zlibCrc(bytes));

    // A block first seen damaged, then stored right: the later CRC counts.
    WholeFileCrc replaced(blocks);
    replaced.setBlock(4, 0xDEADBEEFu, uint32_t(blockSize));
    feedAll(replaced, bytes, blockSize, inOrder(blocks));
    EXPECT_EQ(replaced.value(), zlibCrc(bytes));
}

TEST(WholeFileCrc, MissingBlocksGiveNoValue) {
    std::mt19937 random(3);
    const auto bytes = randomBytes(random, 5000);
    WholeFileCrc crc(FileBlocks(Dialect::Stream, 5000, 1024));
    auto order = inOrder(5);
    order.erase(order.begin() + 2);
    // The same block many times never stands in for the one missing.
    order.push_back(1);
    order.push_back(1);
    feedAll(crc, bytes, 1024, order);
    EXPECT_FALSE(crc.complete());
    EXPECT_EQ(crc.value(), std::nullopt);
}

TEST(WholeFileCrc, EmptyFileIsZeroAndOutOfRangeIndexesAreIgnored) {
    WholeFileCrc none(FileBlocks(Dialect::Stream, 0, 4096));
    EXPECT_EQ(none.value(), 0u);
    WholeFileCrc line(FileBlocks(Dialect::Line, 0, 4096)); // one block of no bytes
    EXPECT_EQ(line.value(), std::nullopt);
    line.setBlock(0, 0, 0);
    EXPECT_EQ(line.value(), 0u);

    const std::vector<uint8_t> bytes = {'a', 'b', 'c'};
    WholeFileCrc crc(1);
    crc.setBlock(-1, 1, 1);
    crc.setBlock(1, 1, 1);
    EXPECT_FALSE(crc.complete());
    crc.setBlock(0, BlockCrc(bytes.data(), bytes.size()), 3);
    EXPECT_EQ(crc.value(), 0x352441C2u); // crc32("abc")
    crc.reset(-5);
    EXPECT_EQ(crc.value(), 0u);
}

// Both ends of a real transfer over 127.0.0.1 put the file's ordinary CRC-32
// into their outcomes, the receiver from what it stored.
TEST(WholeFileCrc, SenderAndReceiverOutcomesCarryTheFilesCrc) {
    using namespace zapfer::test;
    TempDir source, dest;
    const size_t sizes[] = {0, 1, 32768, 100001};
    std::vector<std::filesystem::path> files;
    std::vector<uint32_t> expected;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        files.push_back(source / ("c" + std::to_string(i) + ".bin"));
        const auto bytes = randomBytes(sizes[i], uint32_t(40 + i));
        writeFile(files.back(), bytes);
        expected.push_back(zlibCrc(bytes));
    }
    Responder responder(dest.path());
    Sender sender(responder.engine.listenPort());
    const SendOutcome sent = sender.send(files);
    ASSERT_TRUE(responder.events.waitUntil([&] { return responder.events.statusClosed > 0; }));
    const ReceiveOutcome received = responder.engine.finishReceive();

    ASSERT_EQ(sent.files.size(), files.size());
    ASSERT_EQ(received.files.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].filename().string());
        EXPECT_EQ(sent.files[i].result, FileResult::Sent);
        EXPECT_EQ(received.files[i].result, FileResult::Stored);
        EXPECT_EQ(sent.files[i].crc32, expected[i]);
        EXPECT_EQ(received.files[i].crc32, expected[i]);
        EXPECT_EQ(zlibCrc(readFile(dest / files[i].filename().string())), expected[i]);
    }
}

// A peer may announce the largest file and send little of it: the blocks
// kept follow those that came, and only all of them complete the file.
TEST(WholeFileCrc, TheLargestAnnouncedFileHoldsOnlyTheBlocksThatCame) {
    WholeFileCrc crc(std::numeric_limits<int32_t>::max());
    crc.setBlock(5, 1, 4096);
    crc.setBlock(0, 2, 4096);
    crc.setBlock(5, 3, 4096); // the same block again counts once
    crc.setBlock(-1, 4, 4096);
    EXPECT_FALSE(crc.complete());
    EXPECT_EQ(crc.value(), std::nullopt);
}

TEST(WholeFileCrc, BlocksOutsideTheFileAreIgnoredAndAResetForgetsTheLastFile) {
    std::mt19937 random(11);
    const auto bytes = randomBytes(random, 3 * 4096 + 100);
    const int32_t blocks = FileBlocks(Dialect::Stream, int64_t(bytes.size()), 4096);
    ASSERT_EQ(blocks, 4);
    WholeFileCrc crc(blocks);
    crc.setBlock(4, 9, 4096); // past the end
    crc.setBlock(-1, 9, 4096);
    feedAll(crc, bytes, 4096, {3, 0, 2});
    EXPECT_FALSE(crc.complete());
    feedAll(crc, bytes, 4096, {1});
    ASSERT_TRUE(crc.complete());
    EXPECT_EQ(crc.value(), zlibCrc(bytes));

    // The next file, of two blocks, starts with nothing known.
    const auto next = randomBytes(random, 4096 + 1);
    crc.reset(2);
    EXPECT_FALSE(crc.complete());
    feedAll(crc, next, 4096, {1});
    EXPECT_FALSE(crc.complete());
    feedAll(crc, next, 4096, {0});
    ASSERT_TRUE(crc.complete());
    EXPECT_EQ(crc.value(), zlibCrc(next));

    crc.reset(0);
    EXPECT_TRUE(crc.complete());
    EXPECT_EQ(crc.value(), 0u);
}
