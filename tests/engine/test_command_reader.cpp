#include "command_reader.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zapfer;

namespace {
// A stream held in memory; reads fail once it runs dry.
class BufferSource : public ByteSource {
public:
    explicit BufferSource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    bool readExact(uint8_t* buffer, size_t n) override {
        if (m_bytes.size() - m_position < n) {
            m_position = m_bytes.size();
            return false;
        }
        std::memcpy(buffer, m_bytes.data() + m_position, n);
        m_position += n;
        return true;
    }
    void discardInput() override {
        ++m_discards;
        m_position = m_bytes.size();
    }
    size_t remaining() const { return m_bytes.size() - m_position; }
    int discards() const { return m_discards; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
    int m_discards = 0;
};

std::vector<uint8_t> frames(std::initializer_list<uint8_t> codes) {
    std::vector<uint8_t> out;
    for (uint8_t code : codes) {
        const Frame f = BuildFrame(code);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}
} // namespace

TEST(SocketRealignment, AlignedStreamReadsEveryFrame) {
    BufferSource source(frames({CMD_OK, CMD_ACCEPTED, CMD_BLOCK_OK}));
    EXPECT_EQ(ReadSocketCommand(source), CMD_OK);
    EXPECT_EQ(ReadSocketCommand(source), CMD_ACCEPTED);
    EXPECT_EQ(ReadSocketCommand(source), CMD_BLOCK_OK);
    EXPECT_EQ(ReadSocketCommand(source), 0) << "no bytes left";
}

TEST(SocketRealignment, StreamStartingInsideAFrameFindsTheNextOne) {
    // Cut 1, 2 and 3 bytes off the front: the cut frame is lost, the next is read
    // and the stream stays in step afterwards.
    for (size_t skip = 1; skip <= 3; ++skip) {
        auto bytes = frames({CMD_ABORT, CMD_OK, CMD_NAME_CONFLICT});
        bytes.erase(bytes.begin(), bytes.begin() + long(skip));
        BufferSource source(bytes);
        EXPECT_EQ(ReadSocketCommand(source), CMD_OK) << "skip " << skip;
        EXPECT_EQ(ReadSocketCommand(source), CMD_NAME_CONFLICT) << "skip " << skip;
        EXPECT_EQ(source.remaining(), 0u);
    }
}

TEST(SocketRealignment, IncompleteOrGarbledFramesGiveNothing) {
    BufferSource shortStream({0x52, 0xFF, 0x52});
    EXPECT_EQ(ReadSocketCommand(shortStream), 0);

    // Realignment begins but the completing bytes never come.
    BufferSource cutOff({0x11, 0x52, 0xFF, 0x52});
    EXPECT_EQ(ReadSocketCommand(cutOff), 0);

    // The completing bytes arrive but do not make a frame.
    BufferSource garbled({0xFF, 0x52, 0x11, 0x63, 0xFF, 0x64, 0x11});
    EXPECT_EQ(ReadSocketCommand(garbled), 0);

    BufferSource noise({1, 2, 3, 4});
    EXPECT_EQ(ReadSocketCommand(noise), 0);
    EXPECT_EQ(noise.discards(), 0) << "the socket link never purges";
}

TEST(SerialValidation, ValidFramePassesGarbledFramePurges) {
    BufferSource good(frames({CMD_PING, CMD_CONNECT}));
    EXPECT_EQ(ReadSerialCommand(good), CMD_PING);
    EXPECT_EQ(ReadSerialCommand(good), CMD_CONNECT);
    EXPECT_EQ(good.discards(), 0);

    for (uint8_t marker : {uint8_t(0xFF), uint8_t(0x11)}) {
        auto bytes = frames({CMD_OK, CMD_OK});
        bytes.insert(bytes.begin(), marker);
        BufferSource shifted(bytes);
        EXPECT_EQ(ReadSerialCommand(shifted), 0);
        EXPECT_EQ(shifted.discards(), 1);
        EXPECT_EQ(shifted.remaining(), 0u) << "the rest of the input is thrown away";
    }

    BufferSource noise({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(ReadSerialCommand(noise), 0);
    EXPECT_EQ(noise.discards(), 0) << "no marker byte, no purge";
    EXPECT_EQ(noise.remaining(), 4u);

    BufferSource shortRead({0x50, 0xFF});
    EXPECT_EQ(ReadSerialCommand(shortRead), 0);
}
