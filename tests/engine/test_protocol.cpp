#include "crc.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

using namespace zapfer;

namespace {
std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return data;
}
} // namespace

TEST(Frames, BuildAndValidate) {
    const Frame ok = BuildFrame(CMD_OK);
    EXPECT_EQ(ok, (Frame{0x52, 0xFF, 0x52, 0x11}));
    EXPECT_EQ(FrameCommand(ok.data()), CMD_OK);

    const uint8_t wrongEnd[4] = {0x52, 0xFF, 0x52, 0x12};
    const uint8_t wrongMarker[4] = {0x52, 0xFE, 0x52, 0x11};
    const uint8_t mismatched[4] = {0x52, 0xFF, 0x53, 0x11};
    EXPECT_EQ(FrameCommand(wrongEnd), 0);
    EXPECT_EQ(FrameCommand(wrongMarker), 0);
    EXPECT_EQ(FrameCommand(mismatched), 0);

    EXPECT_EQ(CMD_PING, 80);
    EXPECT_EQ(CMD_CANNOT_CREATE, 103);
    EXPECT_FALSE(isKnownCommand(90));
    EXPECT_FALSE(isKnownCommand(79));
    EXPECT_FALSE(isKnownCommand(104));
    EXPECT_TRUE(isKnownCommand(CMD_FILE_TABLE));
}

// One LAN entry of 40000 bytes, exactly as it travels.
TEST(WorkedExamples, LanTableOpenBlocksAndReplies) {
    EntryBytes entry;
    ASSERT_EQ(EncodeTransferEntry("/home/ann/photo.jpg", 40000, entry), EntryError::None);
    const std::string wireName = "\\home\\ann\\photo.jpg";
    for (size_t i = 0; i < wireName.size(); ++i) {
        EXPECT_EQ(entry[2 * i], uint8_t(wireName[i]));
        EXPECT_EQ(entry[2 * i + 1], 0);
    }
    EXPECT_EQ(entry[2 * wireName.size()], 0);
    EXPECT_EQ(entry[2 * wireName.size() + 1], 0);
    EXPECT_EQ(entry[252], 0x40); // 40000 = 0x9C40, little-endian
    EXPECT_EQ(entry[253], 0x9C);
    EXPECT_EQ(entry[254], 0x00);
    EXPECT_EQ(entry[255], 0x00);

    std::vector<uint8_t> message(9 + 256);
    ASSERT_EQ(BuildFileTableMessage(entry, message), 265u);
    EXPECT_EQ(std::vector<uint8_t>(message.begin(), message.begin() + 5),
              (std::vector<uint8_t>{0x61, 0xFF, 0x61, 0x11, 0x01}));
    EXPECT_EQ(getLe32(message.data() + 5), BlockCrc(entry.data(), entry.size()));
    EXPECT_TRUE(std::equal(entry.begin(), entry.end(), message.begin() + 9));

    EXPECT_EQ(BuildOpenMessage(0), (std::array<uint8_t, 5>{0x5F, 0xFF, 0x5F, 0x11, 0x00}));
    EXPECT_EQ(BuildFrame(CMD_ACCEPTED), (Frame{0x63, 0xFF, 0x63, 0x11}));

    const int32_t blockSize = blockSizeFor(CommType::Lan);
    ASSERT_EQ(blockSize, 32768);
    ASSERT_EQ(FileBlocks(Dialect::Stream, 40000, blockSize), 2);
    ASSERT_EQ(BlockLength(0, 40000, blockSize), 32768);
    ASSERT_EQ(BlockLength(1, 40000, blockSize), 7232);

    const auto file = pattern(40000, 3);
    std::vector<uint8_t> out(12 + 32768);
    for (int32_t k = 0; k < 2; ++k) {
        const int32_t length = BlockLength(k, 40000, blockSize);
        const std::span<const uint8_t> data(file.data() + k * blockSize, size_t(length));
        ASSERT_EQ(BuildBlockMessage(k, data, out), size_t(12 + length));
        const std::vector<uint8_t> head(out.begin(), out.begin() + 8);
        EXPECT_EQ(head, (std::vector<uint8_t>{0x5C, 0xFF, 0x5C, 0x11, uint8_t(k), 0, 0, 0}));
        EXPECT_EQ(getLe32(out.data() + 8), BlockCrc(data.data(), data.size()));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 12));
        EXPECT_EQ(BuildBlockReply(CMD_BLOCK_OK, k),
                  (std::array<uint8_t, 8>{0x54, 0xFF, 0x54, 0x11, uint8_t(k), 0, 0, 0}));
    }
    EXPECT_EQ(BuildFrame(CMD_CLOSE_FILE), (Frame{0x60, 0xFF, 0x60, 0x11}));
}

// COM1, one entry of 8192 bytes: three blocks, the last of zero bytes with CRC 0.
TEST(WorkedExamples, Com1ExactMultipleEndsWithEmptyBlock) {
    const int32_t blockSize = blockSizeFor(CommType::Com1);
    ASSERT_EQ(blockSize, 4096);
    EXPECT_EQ(FileBlocks(Dialect::Line, 8192, blockSize), 3);
    EXPECT_EQ(FileBlocks(Dialect::Stream, 8192, blockSize), 2);
    EXPECT_EQ(BlockLength(0, 8192, blockSize), 4096);
    EXPECT_EQ(BlockLength(1, 8192, blockSize), 4096);
    EXPECT_EQ(BlockLength(2, 8192, blockSize), 0);
    const auto header = BuildBlockHeader(2, BlockCrc(nullptr, 0));
    EXPECT_EQ(header, (std::array<uint8_t, 12>{0x5C, 0xFF, 0x5C, 0x11, 2, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(BuildFrame(CMD_PING_REPLY), (Frame{0x51, 0xFF, 0x51, 0x11}));
}

TEST(BlockArithmetic, BoundariesOnBothLinks) {
    struct Case {
        int64_t size;
        int32_t socketBlocks;
        int32_t serialBlocks;
        int32_t lastSocketLength;
    };
    const int32_t bs = 32768;
    for (const Case c :
         {Case{0, 0, 1, 0}, Case{1, 1, 1, 1}, Case{32767, 1, 1, 32767}, Case{32768, 1, 2, 32768},
          Case{32769, 2, 2, 1}, Case{kMaxFileSize, 65536, 65536, 32767}}) {
        EXPECT_EQ(FileBlocks(Dialect::Stream, c.size, bs), c.socketBlocks) << c.size;
        EXPECT_EQ(FileBlocks(Dialect::Line, c.size, bs), c.serialBlocks) << c.size;
        if (c.socketBlocks > 0) {
            EXPECT_EQ(BlockLength(c.socketBlocks - 1, c.size, bs), c.lastSocketLength) << c.size;
        }
        // The serial link's last block is always the short remainder.
        EXPECT_EQ(BlockLength(c.serialBlocks - 1, c.size, bs), int32_t(c.size % bs)) << c.size;
    }
    // Every byte of a file is covered exactly once.
    for (int64_t size : {0, 1, 4095, 4096, 4097, 100000}) {
        int64_t sum = 0;
        for (int32_t k = 0; k < FileBlocks(Dialect::Line, size, 4096); ++k)
            sum += BlockLength(k, size, 4096);
        EXPECT_EQ(sum, size);
    }
    EXPECT_EQ(BlockLength(5, 100, 4096), 0) << "a block past the end has no bytes";
}

TEST(TransferEntries, NameLimitsAndSeparators) {
    EntryBytes entry;
    const std::string name125(125, 'n');
    ASSERT_EQ(EncodeTransferEntry(name125, 7, entry), EntryError::None);
    EXPECT_EQ(DecodeTransferEntry(entry.data()).name, name125);
    EXPECT_EQ(entry[250], 0) << "terminator unit after 125 units";
    EXPECT_EQ(entry[251], 0);

    EXPECT_EQ(EncodeTransferEntry(std::string(126, 'n'), 7, entry), EntryError::NameTooLong);
    EXPECT_EQ(EncodeTransferEntry("/tmp/" + std::string(126, 'n'), 7, entry),
              EntryError::NameTooLong);

    // A long path goes as its file name alone.
    const std::string longPath = "/" + std::string(130, 'd') + "/report.txt";
    ASSERT_EQ(EncodeTransferEntry(longPath, 7, entry), EntryError::None);
    EXPECT_EQ(DecodeTransferEntry(entry.data()).name, "report.txt");

    EXPECT_EQ(EncodeTransferEntry("/tmp/x", -1, entry), EntryError::SizeOutOfRange);
    EXPECT_EQ(EncodeTransferEntry("/tmp/x", int64_t(1) << 31, entry), EntryError::SizeOutOfRange);
    ASSERT_EQ(EncodeTransferEntry("/tmp/x", kMaxFileSize, entry), EntryError::None);
    EXPECT_EQ(DecodeTransferEntry(entry.data()).size, kMaxFileSize);
    EXPECT_EQ(EncodeTransferEntry("/tmp/dir/", 1, entry), EntryError::EmptyName);

    // Bytes above 127 travel as units of the same value.
    ASSERT_EQ(EncodeTransferEntry("/tmp/caf\xc3\xa9", 1, entry), EntryError::None);
    EXPECT_EQ(entry[16], 0xC3);
    EXPECT_EQ(entry[17], 0x00);
    EXPECT_EQ(DecodeTransferEntry(entry.data()).name, "\\tmp\\caf\xc3\xa9");
}

TEST(TransferEntries, DecodingStrangeFields) {
    EntryBytes entry{};
    // A unit above 255 ends the name.
    entry[0] = 'a';
    entry[2] = 'b';
    entry[4] = 'c';
    entry[5] = 0x01;
    EXPECT_EQ(DecodeTransferEntry(entry.data()).name, "ab");
    // A field with no terminator stops at its end (126 units).
    entry.fill('z');
    for (size_t i = 1; i < 252; i += 2)
        entry[i] = 0;
    EXPECT_EQ(DecodeTransferEntry(entry.data()).name, std::string(126, 'z'));
    putLe32(entry.data() + 252, 0xFFFFFFFFu);
    EXPECT_EQ(DecodeTransferEntry(entry.data()).size, -1);
}

TEST(FileTable, Checks) {
    std::vector<uint8_t> entries(3 * 256);
    std::iota(entries.begin(), entries.end(), 0);
    const uint32_t crc = BlockCrc(entries.data(), entries.size());
    EXPECT_EQ(CheckFileTable(3, crc, entries), TableCheck::Valid);
    EXPECT_EQ(CheckFileTable(3, crc ^ 1, entries), TableCheck::BadCrc);
    EXPECT_EQ(CheckFileTable(3, crc, std::span(entries).first(700)), TableCheck::Short);
    EXPECT_EQ(CheckFileTable(0, 0, {}), TableCheck::Valid);

    std::vector<uint8_t> hundred(100 * 256, 0x41);
    const uint32_t hundredCrc = BlockCrc(hundred.data(), hundred.size());
    EXPECT_EQ(CheckFileTable(100, hundredCrc, hundred), TableCheck::Valid);
    for (int count : {101, 200, 255})
        EXPECT_EQ(CheckFileTable(uint8_t(count), hundredCrc, hundred), TableCheck::TooManyEntries);

    std::vector<uint8_t> out(9 + 101 * 256);
    EXPECT_EQ(BuildFileTableMessage(std::vector<uint8_t>(101 * 256), out), 0u)
        << "a table of 101 entries is never built";
}

TEST(FileNames, NamePartOnLocalAndWirePaths) {
    EXPECT_EQ(FileNamePart("/home/ann/a.txt"), "a.txt");
    EXPECT_EQ(FileNamePart("a.txt"), "a.txt");
    EXPECT_EQ(FileNamePart("/home/ann/back\\slash"), "back\\slash") << "local names keep a \\";
    EXPECT_EQ(FileNamePart("C:\\Temp\\a.txt", PathSource::Wire), "a.txt");
    EXPECT_EQ(FileNamePart("..\\..\\x", PathSource::Wire), "x");
    EXPECT_EQ(FileNamePart("a/../../b", PathSource::Wire), "b");
    EXPECT_EQ(FileNamePart("dir\\", PathSource::Wire), "");
    // Built with append: GCC 12 reads `"/x/" + name` as a copy past the end
    // of a short string and fails the build with -Warray-bounds.
    const std::string longPath = std::string("/x/").append(10, 'a').append(127, 'b');
    EXPECT_EQ(FileNamePart(longPath), std::string(127, 'b'));

    EXPECT_TRUE(isSafeReceivedName("photo.jpg"));
    EXPECT_TRUE(isSafeReceivedName("..hidden"));
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "tab\there", "bell\x07", "del\x7f"})
        EXPECT_FALSE(isSafeReceivedName(bad)) << bad;
}
