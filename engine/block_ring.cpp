#include "block_ring.h"

#include "crc.h"
#include "protocol.h"
#include "sender_common.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <sys/uio.h>

namespace zapfer {

namespace {
// The most blocks one read takes (one iovec each).
constexpr int32_t kMaxRunBlocks = 64;

// preadv until every piece is full; false on an error or the end of the file.
bool readAllAt(int fd, std::span<iovec> pieces, int64_t offset) {
    size_t first = 0;
    while (first < pieces.size()) {
        const ssize_t n = ::preadv(fd, pieces.data() + first, int(pieces.size() - first), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        offset += n;
        for (size_t left = size_t(n); left > 0 && first < pieces.size();) {
            const size_t take = std::min(left, pieces[first].iov_len);
            pieces[first].iov_base = static_cast<uint8_t*>(pieces[first].iov_base) + take;
            pieces[first].iov_len -= take;
            left -= take;
            if (pieces[first].iov_len == 0)
                ++first;
        }
    }
    return true;
}
} // namespace

BlockRing::BlockRing(int fd, int64_t size, int32_t blockSize, int32_t slots, int32_t runBlocks)
    : m_fd(fd), m_size(size), m_blockSize(blockSize),
      m_blocks(FileBlocks(Dialect::Stream, size, blockSize)),
      // A small file needs no more room than its own blocks; at least one
      // slot keeps the arithmetic free of a division by zero.
      m_slots(std::max(1, std::min(slots, m_blocks))),
      m_runBlocks(std::clamp(runBlocks, 1, std::min(m_slots, kMaxRunBlocks))),
      m_stride(kBlockHeaderSize + size_t(blockSize)),
      // Left uninitialised: every byte is read or built before it is used.
      m_data(std::make_unique_for_overwrite<uint8_t[]>(size_t(m_slots) * m_stride)),
      m_held(size_t(m_slots), -1) {}

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
    std::array<iovec, kMaxRunBlocks> pieces;
    for (int32_t k = first; k <= last; ++k)
        pieces[size_t(k - first)] = {slotOf(k) + kBlockHeaderSize,
                                     size_t(BlockLength(k, m_size, m_blockSize))};
    if (!readAllAt(m_fd, std::span(pieces).first(size_t(count)), int64_t(first) * m_blockSize)) {
        // What the failed read may have overwritten is no longer held.
        for (int32_t k = first; k <= last; ++k)
            m_held[size_t(k % m_slots)] = -1;
        return false;
    }
    for (int32_t k = first; k <= last; ++k) {
        uint8_t* slot = slotOf(k);
        const size_t length = size_t(BlockLength(k, m_size, m_blockSize));
        const auto header = BuildBlockHeader(k, BlockCrc(slot + kBlockHeaderSize, length));
        std::memcpy(slot, header.data(), header.size());
        m_held[size_t(k % m_slots)] = k;
    }
    return true;
}

BlockRing::Block BlockRing::block(int32_t k) const {
    const uint8_t* slot = slotOf(k);
    return {k, std::span<const uint8_t>(slot, kBlockHeaderSize),
            std::span<const uint8_t>(slot + kBlockHeaderSize,
                                     size_t(BlockLength(k, m_size, m_blockSize)))};
}

} // namespace zapfer
