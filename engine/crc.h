#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zapfer {

using CrcTable = std::array<uint32_t, 256>;

// The reflected table of polynomial 0x04C11DB7, built bit by bit. It is the
// definition the fast path is checked against; built once, on first use.
const CrcTable& BuildCrcTable();

// CRC of a block as peers compute it: reflected 0x04C11DB7, initial value 0,
// no final inversion; 0 for an empty block. Uses libdeflate's CRC-32.
uint32_t BlockCrc(const void* data, size_t n);

// The byte-wise loop over BuildCrcTable(); slow, kept for tests and benchmarks.
uint32_t BlockCrcBytewise(const void* data, size_t n);

} // namespace zapfer
