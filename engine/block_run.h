#pragma once

// Consecutive blocks of the file under way, taken from one read of the
// stream and not yet written: they go to the file together, in one gathered
// write, before any of them is acknowledged. The blocks are not copied; each
// points into the bytes the parser handed over, which stay put until that
// read has been served.

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zapfer {

class BlockRun {
public:
    // A run is written at the latest when it holds this many blocks or
    // bytes, so that one write never waits on an unbounded amount of data.
    static constexpr size_t kMaxBlocks = 256;
    static constexpr size_t kMaxBytes = size_t(8) << 20;

    bool empty() const { return m_data.empty(); }
    size_t size() const { return m_data.size(); }
    // True when block `index` of `length` bytes continues this run (or the
    // run is empty) and stays within its bounds.
    bool takes(int32_t index, size_t length) const;
    void add(int32_t index, uint32_t crc, std::span<const uint8_t> data);
    void clear();

    int32_t first() const { return m_first; }
    std::span<const iovec> data() const { return m_data; }
    uint32_t crc(size_t i) const { return m_crcs[i]; }

private:
    int32_t m_first = 0;
    size_t m_bytes = 0;
    std::vector<iovec> m_data;
    std::vector<uint32_t> m_crcs;
};

} // namespace zapfer
