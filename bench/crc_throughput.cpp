// Prints the throughput of BlockCrc (libdeflate) against zlib's sliced
// crc32 and the byte-wise table loop, on one block and on a 1 MiB buffer.

#include "crc.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>
#include <zlib.h>

namespace {
template <typename Crc> double megabytesPerSecond(Crc crc, const std::vector<uint8_t>& buffer) {
    using Clock = std::chrono::steady_clock;
    volatile uint32_t sink = 0;
    size_t bytes = 0;
    const auto start = Clock::now();
    auto elapsed = Clock::duration::zero();
    // At least half a second and 64 passes, whichever is longer, capped at 4096 passes.
    for (int pass = 0; pass < 4096 && (pass < 64 || elapsed < std::chrono::milliseconds(500));
         ++pass) {
        sink = sink ^ crc(buffer.data(), buffer.size());
        bytes += buffer.size();
        elapsed = Clock::now() - start;
    }
    return double(bytes) / 1e6 / std::chrono::duration<double>(elapsed).count();
}

// zlib's crc32 in the same convention as BlockCrc (no inversions).
uint32_t zlibCrc(const void* data, size_t n) {
    if (n == 0)
        return 0;
    return uint32_t(crc32_z(0xFFFFFFFFul, static_cast<const Bytef*>(data), n) ^ 0xFFFFFFFFul);
}
} // namespace

int main() {
    std::mt19937 random(7);
    for (const size_t size : {size_t(32768), size_t(1) << 20}) {
        std::vector<uint8_t> buffer(size);
        for (auto& b : buffer)
            b = static_cast<uint8_t>(random());
        if (zlibCrc(buffer.data(), size) != zapfer::BlockCrc(buffer.data(), size) ||
            zapfer::BlockCrcBytewise(buffer.data(), size) !=
                zapfer::BlockCrc(buffer.data(), size)) {
            std::fprintf(stderr, "the three CRCs disagree on %zu bytes\n", size);
            return 1;
        }
        const double fast = megabytesPerSecond(zapfer::BlockCrc, buffer);
        const double zlib = megabytesPerSecond(zlibCrc, buffer);
        const double table = megabytesPerSecond(zapfer::BlockCrcBytewise, buffer);
        std::printf("%zu-byte buffers\n", size);
        std::printf("  BlockCrc (libdeflate) %8.0f MB/s\n", fast);
        std::printf("  zlib crc32_z          %8.0f MB/s  (libdeflate %.1fx)\n", zlib, fast / zlib);
        std::printf("  byte-wise table loop  %8.0f MB/s  (libdeflate %.1fx)\n", table,
                    fast / table);
    }
    return 0;
}
