#include "byte_queue.h"

#include <algorithm>
#include <cstring>

namespace zapfer {

uint8_t* ByteQueue::space(size_t n, size_t grownCapacity) {
    if (m_bytes && m_end + n <= m_capacity)
        return m_bytes.get() + m_end;
    const size_t waiting = size();
    if (!m_bytes || waiting + n > m_capacity) {
        const size_t capacity = std::max(grownCapacity, waiting + n);
        auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
        if (waiting > 0)
            std::memcpy(grown.get(), m_bytes.get() + m_start, waiting);
        m_bytes = std::move(grown);
        m_capacity = capacity;
    } else if (waiting > 0) {
        std::memmove(m_bytes.get(), m_bytes.get() + m_start, waiting);
    }
    m_start = 0;
    m_end = waiting;
    return m_bytes.get() + m_end;
}

void ByteQueue::drop(size_t n) {
    m_start += std::min(n, size());
    if (m_start == m_end)
        m_start = m_end = 0;
}

} // namespace zapfer
