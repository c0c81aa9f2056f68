// The message parser hands over the same messages, in the same order, however
// the bytes are cut into reads: whole, a byte at a time, or at random. A
// fault in carrying a piece over from one read to the next shows up here as a
// message lost, doubled or misread.

#include "crc.h"
#include "message_parser.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace zapfer;

namespace {

class Recorder : public MessageHandler, public ReplySink {
public:
    bool reading() const override { return true; }
    void command(uint8_t code) override { log.push_back("cmd " + std::to_string(code)); }
    void table(uint8_t count, uint32_t crc, std::span<const uint8_t> entries) override {
        log.push_back("table " + std::to_string(count) + " " + std::to_string(crc) + " " +
                      std::to_string(entries.size()) + " " +
                      std::to_string(BlockCrc(entries.data(), entries.size())));
    }
    void open(uint8_t index) override { log.push_back("open " + std::to_string(index)); }
    std::optional<size_t> blockHeader(int32_t index, uint32_t crc) override {
        log.push_back("block " + std::to_string(index) + " " + std::to_string(crc));
        return blockLength;
    }
    void blockData(std::span<const uint8_t> data, bool arrived) override {
        log.push_back("data " + std::to_string(data.size()) + " " + std::to_string(arrived) + " " +
                      std::to_string(BlockCrc(data.data(), data.size())));
    }
    void name(std::string name) override { log.push_back("name " + name); }
    void unfinished(Unfinished message) override {
        log.push_back("unfinished " + std::to_string(int(message)));
    }
    void reply(std::span<const uint8_t>) override {}
    void discardInput() override { log.push_back("discard"); }

    size_t blockLength = 0;
    std::vector<std::string> log;
};

void append(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Every kind of message a stream carries, with a frame the stream is out of
// step in between them.
std::vector<uint8_t> streamMessages(size_t blockLength) {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> flat;
    for (const auto& [path, size] : {std::pair<const char*, int64_t>{"/home/ann/a.txt", 10},
                                     {"/home/ann/b.bin", int64_t(blockLength)}}) {
        EntryBytes entry{};
        EncodeTransferEntry(path, size, entry);
        append(flat, entry);
    }
    std::vector<uint8_t> table(kTableHeaderSize + 2 * kEntrySize);
    table.resize(BuildFileTableMessage(flat, table));
    append(bytes, table);
    append(bytes, BuildOpenMessage(1));
    std::vector<uint8_t> data(blockLength);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 3);
    std::vector<uint8_t> block(kBlockHeaderSize + data.size() + 4);
    block.resize(BuildBlockMessage(0, data, block));
    append(bytes, block);
    const Frame ping = BuildFrame(CMD_PING);
    // A stream out of step by a byte: the frame is completed from the
    // bytes of the next one, and one ping is read.
    append(bytes, std::span<const uint8_t>(ping).subspan(1));
    append(bytes, ping);
    append(bytes, BuildFrame(CMD_CLOSE_FILE));
    append(bytes, BuildFrame(CMD_NAME_FOLLOWS));
    std::vector<uint8_t> nameBlock(kNameBlockSize, 0);
    const std::string name = "Ann's laptop";
    std::copy(name.begin(), name.end(), nameBlock.begin());
    append(bytes, nameBlock);
    append(bytes, BuildFrame(CMD_ABORT));
    return bytes;
}

std::vector<std::string> parsedInPieces(const std::vector<uint8_t>& bytes,
                                        const std::vector<size_t>& cuts, size_t blockLength) {
    Recorder recorder;
    recorder.blockLength = blockLength;
    LinkTraits traits; // a stream
    MessageParser parser(traits, recorder, recorder);
    size_t at = 0;
    const int64_t now = 1000; // all within the messages' time limits
    for (size_t cut : cuts) {
        parser.feed(std::span<const uint8_t>(bytes).subspan(at, cut - at), now);
        at = cut;
    }
    parser.feed(std::span<const uint8_t>(bytes).subspan(at), now);
    EXPECT_FALSE(parser.midMessage());
    return recorder.log;
}

TEST(MessageParser, SameMessagesHoweverTheBytesAreCut) {
    const size_t blockLength = 5000;
    const std::vector<uint8_t> bytes = streamMessages(blockLength);
    const std::vector<std::string> whole = parsedInPieces(bytes, {}, blockLength);
    ASSERT_EQ(whole.size(), 12u);
    EXPECT_EQ(whole[0], "cmd " + std::to_string(CMD_FILE_TABLE));
    EXPECT_EQ(whole[1].rfind("table 2 ", 0), 0u) << whole[1];
    EXPECT_NE(whole[1].find(" " + std::to_string(2 * kEntrySize) + " "), std::string::npos);
    EXPECT_EQ(whole[3], "open 1");
    EXPECT_EQ(whole[7], "cmd " + std::to_string(CMD_PING)) << "the frame out of step, completed";
    EXPECT_EQ(whole[6].substr(0, 12), "data 5000 1 ");
    EXPECT_EQ(whole[10], "name Ann's laptop");

    std::vector<size_t> everyByte;
    for (size_t i = 1; i < bytes.size(); ++i)
        everyByte.push_back(i);
    EXPECT_EQ(parsedInPieces(bytes, everyByte, blockLength), whole);

    std::mt19937 random(20261207);
    for (int round = 0; round < 50; ++round) {
        std::vector<size_t> cuts;
        for (size_t at = 0;;) {
            at += 1 + random() % 700;
            if (at >= bytes.size())
                break;
            cuts.push_back(at);
        }
        EXPECT_EQ(parsedInPieces(bytes, cuts, blockLength), whole) << "round " << round;
    }
}

TEST(MessageParser, BytesAfterAPurgeInTheSameReadAreDropped) {
    // A serial line: a garbled frame holding a marker throws away what
    // follows it in the same read, so the next message starts clean.
    Recorder recorder;
    LinkTraits traits;
    traits.dialect = Dialect::Line;
    MessageParser parser(traits, recorder, recorder);
    std::vector<uint8_t> bytes = {kFrameMarker, 1, 2, 3};
    append(bytes, BuildFrame(CMD_PING));
    parser.feed(bytes, 10);
    EXPECT_EQ(recorder.log, std::vector<std::string>{"discard"});
    parser.feed(BuildFrame(CMD_PING), 20);
    EXPECT_EQ(recorder.log.back(), "cmd " + std::to_string(CMD_PING));
}

TEST(MessageParser, AStreamMessageCutOffPastItsTimeIsUnfinished) {
    Recorder recorder;
    recorder.blockLength = 100;
    LinkTraits traits;
    MessageParser parser(traits, recorder, recorder);
    const auto header = BuildBlockHeader(0, 0);
    parser.feed(header, 0);
    parser.feed(std::vector<uint8_t>(50, 1), 10);
    EXPECT_TRUE(parser.midMessage());
    parser.tick(parser.deadline() - 1);
    EXPECT_NE(recorder.log.back(), "unfinished 3");
    parser.tick(parser.deadline());
    EXPECT_EQ(recorder.log.back(), "unfinished 3");
    EXPECT_FALSE(parser.midMessage());
}

} // namespace
