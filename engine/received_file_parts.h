#pragma once

// The bookkeeping of a file being received, apart from its names: which of
// its blocks are stored, and the disk space reserved ahead of its data.

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zapfer {

// Which blocks of the file are stored; a block stored again counts once.
// Kept up to the furthest block stored: the size a peer announces costs
// nothing until its blocks come.
class StoredBlocks {
public:
    explicit StoredBlocks(int32_t blocks) : m_total(size_t(blocks > 0 ? blocks : 0)) {}
    size_t total() const { return m_total; }
    size_t count() const { return m_count; }
    bool complete() const { return m_count == m_total; }
    // `k` below total().
    void mark(size_t k) {
        if (k >= m_stored.size())
            m_stored.resize(k + 1, false);
        if (!m_stored[k]) {
            m_stored[k] = true;
            ++m_count;
        }
    }

private:
    size_t m_total;
    std::vector<bool> m_stored;
    size_t m_count = 0;
};

// Space reserved as the data comes, a bounded amount ahead of it: enough that
// a full disk shows before the writes fail, never so much that a peer sending
// nothing takes the disk from every other program.
class SpaceReservation {
public:
    explicit SpaceReservation(int64_t size) : m_size(size) {}
    // Reserves for `length` bytes at `offset` of the file `fd`; false when
    // the disk has no room for them.
    bool reserveFor(int fd, int64_t offset, size_t length);

private:
    int64_t m_size;           // of the whole file
    int64_t m_reservedTo = 0; // reserved from the start of the file
};

// Writes all of `pieces` to `fd` from `offset`, again after a short write;
// the number of pieces written whole.
size_t writeAllAt(int fd, std::span<const iovec> pieces, int64_t offset);

} // namespace zapfer
