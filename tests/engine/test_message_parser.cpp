// The message parser hands over the same messages, in the same order, however
// the bytes are cut into reads: whole, a byte at a time, or at random. A
// fault in carrying a piece over from one read to the next shows up here as a
// message lost, doubled or misread.

#include "crc.h"
#include "message_parser.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
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

// A peer out of step between messages sends frames that are neither commands
// nor worth realigning on: bytes with no marker (and, on a serial line, no
// end byte). Read together, such runs are passed over in one go; the
// messages, the realignments and the times left behind must be those of the
// same bytes read a byte at a time, frame by frame.
struct Parsed {
    std::vector<std::string> log;
    bool midMessage = false;
    int64_t deadline = 0;
    int64_t messageDeadline = 0;
    bool operator==(const Parsed&) const = default;
    friend void PrintTo(const Parsed& parsed, std::ostream* out) {
        for (const std::string& line : parsed.log)
            *out << line << "; ";
        *out << "mid " << parsed.midMessage << ", deadline " << parsed.deadline << ", message "
             << parsed.messageDeadline;
    }
};

Parsed parsedAt(Dialect dialect, const std::vector<uint8_t>& bytes,
                const std::vector<size_t>& cuts) {
    Recorder recorder;
    recorder.blockLength = 10;
    LinkTraits traits;
    traits.dialect = dialect;
    MessageParser parser(traits, recorder, recorder);
    size_t at = 0;
    int64_t now = 1000;
    // The time moves only between the pieces the whole input is cut into
    // in every case, so that all cuts see the same times.
    for (size_t cut : cuts) {
        parser.feed(std::span<const uint8_t>(bytes).subspan(at, cut - at), now);
        at = cut;
        if (cut % 64 == 0)
            now += 7;
    }
    parser.feed(std::span<const uint8_t>(bytes).subspan(at), now);
    return {recorder.log, parser.midMessage(), parser.deadline(), parser.messageDeadline()};
}

// Cuts at every 64th byte, and within those pieces at `step` bytes (0: none).
std::vector<size_t> cutsEvery(size_t size, size_t step) {
    std::vector<size_t> cuts;
    for (size_t at = 1; at < size; ++at)
        if (at % 64 == 0 || (step != 0 && at % step == 0))
            cuts.push_back(at);
    return cuts;
}

// Garbage free of markers, with commands, lone markers and partial frames at
// random places in it. `inStep`: for a serial line, free of end bytes too,
// with only whole frames and commands that take no arguments, so that every
// frame stays in step.
std::vector<uint8_t> outOfStep(std::mt19937& random, bool inStep) {
    std::vector<uint8_t> bytes;
    const bool noEnds = inStep;
    const bool aligned = inStep;
    const uint8_t commands[] = {CMD_PING, CMD_CLOSE_FILE, CMD_ABORT, CMD_BLOCK, CMD_OPEN_FILE};
    const size_t kinds = inStep ? 3 : std::size(commands);
    for (int piece = 0; piece < 40; ++piece) {
        const size_t run = (random() % 60) * (aligned ? 4 : 1) + (aligned ? 0 : random() % 4);
        for (size_t i = 0; i < run; ++i) {
            uint8_t byte = uint8_t(random() % 254);
            if (byte == kFrameEnd && noEnds)
                byte = 0x12;
            bytes.push_back(byte);
        }
        const Frame frame = BuildFrame(commands[random() % kinds]);
        switch (aligned ? 0 : random() % 3) {
        case 0:
            append(bytes, frame);
            break;
        case 1: // a frame cut at its front: the stream realigns on it
            append(bytes, std::span<const uint8_t>(frame).subspan(1 + random() % 3));
            append(bytes, frame);
            break;
        default:
            bytes.push_back(kFrameMarker);
            break;
        }
    }
    return bytes;
}

TEST(MessageParser, FramesOutOfStepArePassedOverAsReadFrameByFrame) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // A stream, anywhere out of step.
        const std::vector<uint8_t> stream = outOfStep(random, false);
        const Parsed byByte = parsedAt(Dialect::Stream, stream, cutsEvery(stream.size(), 1));
        EXPECT_GT(byByte.log.size(), 10u);
        EXPECT_EQ(parsedAt(Dialect::Stream, stream, cutsEvery(stream.size(), 0)), byByte);
        EXPECT_EQ(parsedAt(Dialect::Stream, stream, cutsEvery(stream.size(), 3)), byByte);
        EXPECT_EQ(parsedAt(Dialect::Stream, stream, cutsEvery(stream.size(), 5 + round)), byByte);
        // A serial line, with garbage frames between the commands: no frame
        // that would purge, as a purge drops the rest of its read.
        const std::vector<uint8_t> line = outOfStep(random, true);
        const Parsed lineByByte = parsedAt(Dialect::Line, line, cutsEvery(line.size(), 1));
        EXPECT_GT(lineByByte.log.size(), 10u);
        EXPECT_EQ(parsedAt(Dialect::Line, line, cutsEvery(line.size(), 0)), lineByByte);
        EXPECT_EQ(parsedAt(Dialect::Line, line, cutsEvery(line.size(), 6 + round)), lineByByte);
    }
}

TEST(MessageParser, AFrameAfterGarbageIsTimedFromItsOwnRead) {
    // Garbage read at 1000 ms, then more of it and half a frame at 5000 ms:
    // the half frame is timed from that read, not from the garbage's.
    for (const Dialect dialect : {Dialect::Stream, Dialect::Line}) {
        SCOPED_TRACE(dialect == Dialect::Stream ? "stream" : "serial line");
        Recorder recorder;
        LinkTraits traits;
        traits.dialect = dialect;
        traits.silenceLimitMs = 300;
        MessageParser parser(traits, recorder, recorder);
        parser.feed(std::vector<uint8_t>(4000, 0x20), 1000);
        EXPECT_FALSE(parser.midMessage());
        EXPECT_EQ(parser.deadline(), std::numeric_limits<int64_t>::max());
        const Frame ping = BuildFrame(CMD_PING);
        std::vector<uint8_t> more(4002, 0x20);
        std::copy_n(ping.begin(), 2, more.begin() + 4000);
        parser.feed(more, 5000);
        EXPECT_TRUE(parser.midMessage());
        EXPECT_EQ(parser.deadline(), 5300);
        if (dialect == Dialect::Stream) {
            EXPECT_EQ(parser.messageDeadline(), 7000);
        }
        parser.feed(std::span<const uint8_t>(ping).subspan(2), 5100);
        EXPECT_EQ(recorder.log, std::vector<std::string>{"cmd " + std::to_string(CMD_PING)});
        EXPECT_FALSE(parser.midMessage());
    }
}

} // namespace
