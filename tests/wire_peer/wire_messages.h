#pragma once

// The bytes of wire messages as a test peer sends them, hostile ones
// included: entries whose names are any 16-bit units, tables and blocks with
// a wrong CRC on request.

#include "protocol.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zapfer::test {

using Bytes = std::vector<uint8_t>;
// (wire name, size) entries of a table; each byte of the name is one unit.
using TableEntries = std::vector<std::pair<std::string, int32_t>>;

// One 256-byte entry whose name is given as 16-bit units (any value); units
// past the name field are dropped.
EntryBytes unitEntry(const std::vector<uint16_t>& units, int32_t size);
// One entry whose name is `name`'s bytes, each as one unit (so UTF-8 arrives
// as one unit per byte, as from a peer that sends Latin-1).
EntryBytes textEntry(const std::string& name, int32_t size);

Bytes frameBytes(uint8_t code);
// A file table message; its CRC is off by `crcDelta` when that is not 0.
Bytes tableMessage(const std::vector<EntryBytes>& entries, uint32_t crcDelta = 0);
Bytes tableMessage(const TableEntries& entries, uint32_t crcDelta = 0);
Bytes openMessage(uint8_t index);
// A block message; its CRC is off by `crcDelta` when that is not 0.
Bytes blockMessage(int32_t k, const Bytes& data, uint32_t crcDelta = 0);

// The serial link set-up's name block: `name`, NUL-padded to its size.
Bytes nameBlock(const std::string& name);
// At most `length` bytes of `bytes` from `begin` (none past its end).
Bytes slice(const Bytes& bytes, size_t begin, size_t length);
// Block k of `data` cut in blocks of `blockSize`: empty past its end.
Bytes blockOf(const Bytes& data, int32_t k, int32_t blockSize);

} // namespace zapfer::test
