#pragma once

// The blocks of the file being sent, read ahead in runs: one preadv fills
// several consecutive slots of a ring, and each block's header (frame, index,
// CRC) is built once, when it is read. A go-back that reaches a block no
// longer held simply reads it again.
//
// A slot holds a block as it goes on the wire, header then data, so the
// blocks of a run lie end to end: a link that must copy what it is given
// into larger pieces (the paired link's records) can take them as they are.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zapfer {

class BlockRing {
public:
    struct Block {
        int32_t index = -1;
        std::span<const uint8_t> header; // frame, index, CRC
        std::span<const uint8_t> data;
    };

    // `slots` blocks are held at once (fewer for a small file); runs are at
    // most `runBlocks` blocks.
    BlockRing(int fd, int64_t size, int32_t blockSize, int32_t slots = 64, int32_t runBlocks = 16);

    int32_t slots() const { return m_slots; }

    // Makes blocks [first, first + count) available at once, reading those
    // not held (and, with them, the blocks after, as far as the ring allows);
    // count must not exceed slots(). False when the file could not be read
    // (an error, or it shrank).
    bool prepare(int32_t first, int32_t count);
    // Block k, which the last successful prepare() covered.
    Block block(int32_t k) const;

private:
    bool held(int32_t k) const { return m_held[size_t(k % m_slots)] == k; }
    uint8_t* slotOf(int32_t k) const { return m_data.get() + size_t(k % m_slots) * m_stride; }
    // Reads blocks [first, first + count), which sit in consecutive slots.
    bool readRun(int32_t first, int32_t count);

    int m_fd;
    int64_t m_size;
    int32_t m_blockSize;
    int32_t m_blocks;
    int32_t m_slots;
    int32_t m_runBlocks;
    size_t m_stride; // a block's header and data
    std::unique_ptr<uint8_t[]> m_data;
    // The block each slot holds, or -1.
    std::vector<int32_t> m_held;
};

} // namespace zapfer
