#include "block_ring.h"

#include "crc.h"
#include "protocol.h"
#include "sender_common.h"

#include <algorithm>
#include <cstring>

namespace zapfer {

static_assert(kBlockHeaderSize == 12, "BlockRing::Slot holds a block header");

BlockRing::BlockRing(int fd, int64_t size, int32_t blockSize, int32_t slots, int32_t runBlocks)
    : m_fd(fd), m_size(size), m_blockSize(blockSize),
      m_blocks(FileBlocks(Dialect::Stream, size, blockSize)),
      // A small file needs no more room than its own blocks; at least one
      // slot keeps the arithmetic free of a division by zero.
      m_slots(std::max(1, std::min(slots, m_blocks))),
      m_runBlocks(std::clamp(runBlocks, 1, m_slots)),
      // Left uninitialised: every byte is read from the file before it is used.
      m_data(std::make_unique_for_overwrite<uint8_t[]>(size_t(m_slots) * size_t(blockSize))),
      m_slot(size_t(m_slots)) {}

bool BlockRing::prepare(int32_t first, int32_t count) {
    if (first < 0 || count < 0 || count > m_slots || first + count > m_blocks)
        return false;
    const int32_t end = first + count;
    // Read-ahead may fill the ring up to one lap past `first`, never over the
    // blocks asked for.
    const int32_t limit = std::min(m_blocks, first + m_slots);
    int32_t k = first;
    while (k < end) {
        if (held(k)) {
            ++k;
            continue;
        }
        // A run of missing blocks, cut where the ring wraps.
        int32_t run = 1;
        while (run < m_runBlocks && k + run < limit && (k + run) % m_slots != 0 && !held(k + run))
            ++run;
        // Read-ahead past the blocks asked for may fail where they would not
        // (a file that shrank): only the blocks asked for decide.
        if (!readRun(k, run) && (k + run <= end || !readRun(k, end - k)))
            return false;
        k += run;
    }
    return true;
}

bool BlockRing::readRun(int32_t first, int32_t count) {
    const int32_t last = first + count - 1;
    const int64_t offset = int64_t(first) * m_blockSize;
    const int64_t length =
        int64_t(last) * m_blockSize + BlockLength(last, m_size, m_blockSize) - offset;
    uint8_t* at = m_data.get() + size_t(first % m_slots) * size_t(m_blockSize);
    if (!readAt(m_fd, at, size_t(length), offset)) {
        // What the failed read may have overwritten is no longer held.
        for (int32_t k = first; k <= last; ++k)
            m_slot[size_t(k % m_slots)].index = -1;
        return false;
    }
    for (int32_t k = first; k <= last; ++k) {
        Slot& slot = m_slot[size_t(k % m_slots)];
        const uint8_t* data = m_data.get() + size_t(k % m_slots) * size_t(m_blockSize);
        const auto header =
            BuildBlockHeader(k, BlockCrc(data, size_t(BlockLength(k, m_size, m_blockSize))));
        std::memcpy(slot.header.data(), header.data(), header.size());
        slot.index = k;
    }
    return true;
}

BlockRing::Block BlockRing::block(int32_t k) const {
    const Slot& slot = m_slot[size_t(k % m_slots)];
    const uint8_t* data = m_data.get() + size_t(k % m_slots) * size_t(m_blockSize);
    return {k, std::span<const uint8_t>(slot.header),
            std::span<const uint8_t>(data, size_t(BlockLength(k, m_size, m_blockSize)))};
}

} // namespace zapfer
