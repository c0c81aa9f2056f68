#pragma once

// The CRC-32 of a whole file built from the CRCs its blocks already carry,
// so that neither side reads a file twice. Blocks may arrive or be read in
// any order and more than once (go-back-N, a repeated serial block): each
// index keeps only its latest CRC.

#include <cstdint>
#include <optional>
#include <vector>

namespace zapfer {

class WholeFileCrc {
public:
    WholeFileCrc() = default;
    explicit WholeFileCrc(int32_t blocks) { reset(blocks); }

    // A new file of `blocks` blocks; nothing known yet.
    void reset(int32_t blocks);
    // Block `index` of `length` bytes has the block CRC `blockCrc` (as
    // BlockCrc computes it). An index outside the file is ignored.
    void setBlock(int32_t index, uint32_t blockCrc, uint32_t length);
    bool complete() const { return m_known == m_total; }
    // The ordinary CRC-32 of the file's bytes (zlib's crc32), once every
    // block is known; 0 for a file of no blocks or no bytes.
    std::optional<uint32_t> value() const;

private:
    struct Block {
        uint32_t crc = 0;
        uint32_t length = 0;
        bool known = false;
    };
    // Up to the furthest block known: the size a peer announces costs
    // nothing until its blocks come.
    std::vector<Block> m_blocks;
    size_t m_total = 0;
    size_t m_known = 0;
};

} // namespace zapfer
