#include "whole_file_crc.h"

#include <zlib.h>

namespace zapfer {

// Files reach terabytes: the length of the shift must not wrap.
static_assert(sizeof(z_off_t) >= 8);

void WholeFileCrc::reset(int32_t blocks) {
    m_blocks.clear();
    m_total = blocks > 0 ? size_t(blocks) : 0;
    m_known = 0;
}

void WholeFileCrc::setBlock(int32_t index, uint32_t blockCrc, uint32_t length) {
    if (index < 0 || size_t(index) >= m_total)
        return;
    if (size_t(index) >= m_blocks.size())
        m_blocks.resize(size_t(index) + 1);
    Block& block = m_blocks[size_t(index)];
    if (!block.known)
        ++m_known;
    block = {blockCrc, length, true};
}

std::optional<uint32_t> WholeFileCrc::value() const {
    if (!complete())
        return std::nullopt;
    // A block CRC is the bare register (start 0, no final inversion), which
    // is linear in the data: crc32_combine joins such values as it joins
    // ordinary CRC-32s. Most blocks share one length, so its shift operator
    // is made once.
    uLong raw = 0;
    uint64_t total = 0;
    uint32_t opLength = 0;
    uLong op = crc32_combine_gen(0);
    for (const Block& block : m_blocks) {
        if (block.length != opLength) {
            opLength = block.length;
            op = crc32_combine_gen(z_off_t(opLength));
        }
        raw = crc32_combine_op(raw, block.crc, op);
        total += block.length;
    }
    // The ordinary CRC-32 starts from all ones and inverts at the end: shift
    // the all-ones start across the file, add the data's part, invert.
    const uLong start = crc32_combine(0xFFFFFFFFul, 0, z_off_t(total));
    return static_cast<uint32_t>((start ^ raw) ^ 0xFFFFFFFFul);
}

} // namespace zapfer
