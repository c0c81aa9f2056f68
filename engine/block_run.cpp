#include "block_run.h"

#include <climits>

namespace zapfer {

namespace {
// One gathered write takes at most IOV_MAX pieces.
constexpr size_t kBlockLimit = BlockRun::kMaxBlocks < IOV_MAX ? BlockRun::kMaxBlocks : IOV_MAX;
} // namespace

bool BlockRun::takes(int32_t index, size_t length) const {
    if (m_data.empty())
        return true;
    return int64_t(index) == int64_t(m_first) + int64_t(m_data.size()) &&
           m_data.size() < kBlockLimit && m_bytes + length <= kMaxBytes;
}

void BlockRun::add(int32_t index, uint32_t crc, std::span<const uint8_t> data) {
    if (m_data.empty()) {
        m_first = index;
        m_bytes = 0;
    }
    // iovec is a C structure for reading and writing alike: the data is
    // only ever written from, never changed.
    m_data.push_back({const_cast<uint8_t*>(data.data()), data.size()});
    m_crcs.push_back(crc);
    m_bytes += data.size();
}

void BlockRun::clear() {
    m_data.clear();
    m_crcs.clear();
    m_bytes = 0;
}

} // namespace zapfer
