#pragma once

// Bytes waiting in order: added at the back, written there in place, and
// used up from the front. The buffer is not a vector: nothing is zeroed, and
// it stays mapped for the queue's life.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace zapfer {

class ByteQueue {
public:
    size_t size() const { return m_end - m_start; }
    std::span<const uint8_t> bytes() const { return {m_bytes.get() + m_start, size()}; }

    // Room for `n` more bytes after those waiting, to be written in place
    // and then counted with added(). The waiting bytes move to the front
    // when the back has no room; the buffer grows, to `grownCapacity` at
    // least, only when that is not enough.
    uint8_t* space(size_t n, size_t grownCapacity);
    void added(size_t n) { m_end += n; }
    void drop(size_t n);
    void clear() { m_start = m_end = 0; }

private:
    std::unique_ptr<uint8_t[]> m_bytes;
    size_t m_capacity = 0;
    size_t m_start = 0;
    size_t m_end = 0;
};

} // namespace zapfer
