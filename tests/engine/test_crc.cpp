#include "crc.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

using namespace zapfer;

TEST(Crc, TableIsTheReflectedPolynomial) {
    const CrcTable& table = BuildCrcTable();
    EXPECT_EQ(table[0], 0x00000000u);
    EXPECT_EQ(table[1], 0x77073096u);
    EXPECT_EQ(table[128], 0xEDB88320u);
    EXPECT_EQ(table[255], 0x2D02EF8Du);
}

TEST(Crc, KnownVectors) {
    const std::string_view abc = "abc";
    const std::string_view digits = "123456789";
    EXPECT_EQ(BlockCrc(abc.data(), abc.size()), 0xCA6598D0u);
    EXPECT_EQ(BlockCrc(digits.data(), digits.size()), 0x2DFD2D88u);
    EXPECT_EQ(BlockCrcBytewise(abc.data(), abc.size()), 0xCA6598D0u);
    EXPECT_EQ(BlockCrcBytewise(digits.data(), digits.size()), 0x2DFD2D88u);
    EXPECT_EQ(BlockCrc(nullptr, 0), 0u);
    EXPECT_EQ(BlockCrc(abc.data(), 0), 0u);
}

TEST(Crc, FastPathAgreesWithTableOnEveryLength) {
    std::mt19937 random(1234);
    std::vector<uint8_t> buffer(4096 + 7);
    for (auto& byte : buffer)
        byte = static_cast<uint8_t>(random());
    // Every length from 0 to 4096, from an aligned and an unaligned start.
    for (size_t n = 0; n <= 4096; ++n) {
        ASSERT_EQ(BlockCrc(buffer.data(), n), BlockCrcBytewise(buffer.data(), n)) << "n=" << n;
        ASSERT_EQ(BlockCrc(buffer.data() + 3, n), BlockCrcBytewise(buffer.data() + 3, n))
            << "unaligned n=" << n;
    }
}

TEST(Crc, FastPathAgreesWithTableOnWholeBlocks) {
    // The carry-less multiply path takes over on long buffers, with its own
    // handling of the head and tail: check it on block-sized lengths too.
    std::mt19937 random(99);
    std::vector<uint8_t> buffer(65536 + 64);
    for (auto& byte : buffer)
        byte = static_cast<uint8_t>(random());
    for (const size_t n :
         {size_t(8191), size_t(32768), size_t(32769), size_t(65535), size_t(65536)}) {
        for (const size_t start : {size_t(0), size_t(1), size_t(15), size_t(63)}) {
            ASSERT_EQ(BlockCrc(buffer.data() + start, n),
                      BlockCrcBytewise(buffer.data() + start, n))
                << "n=" << n << " start=" << start;
        }
    }
    // A single flipped bit anywhere in a block changes its CRC.
    std::vector<uint8_t> block(buffer.begin(), buffer.begin() + 32768);
    const uint32_t before = BlockCrc(block.data(), block.size());
    for (const size_t at : {size_t(0), size_t(16383), size_t(32767)}) {
        block[at] ^= 0x10;
        EXPECT_NE(BlockCrc(block.data(), block.size()), before) << "at=" << at;
        block[at] ^= 0x10;
    }
    EXPECT_EQ(BlockCrc(block.data(), block.size()), before);
}
