// Prints the throughput of BlockCrc (zlib) against the byte-wise table loop.

#include "crc.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

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
} // namespace

int main() {
    std::vector<uint8_t> block(32768);
    std::mt19937 random(7);
    for (auto& b : block)
        b = static_cast<uint8_t>(random());

    const double fast = megabytesPerSecond(zapfer::BlockCrc, block);
    const double table = megabytesPerSecond(zapfer::BlockCrcBytewise, block);
    std::printf("BlockCrc (zlib)      %8.0f MB/s\n", fast);
    std::printf("byte-wise table loop %8.0f MB/s\n", table);
    std::printf("speed-up             %8.1fx\n", fast / table);
    return 0;
}
