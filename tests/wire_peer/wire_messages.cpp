#include "wire_messages.h"

#include <algorithm>
#include <cstring>

namespace zapfer::test {

EntryBytes unitEntry(const std::vector<uint16_t>& units, int32_t size) {
    EntryBytes entry{};
    for (size_t i = 0; i < units.size() && 2 * i + 1 < kNameFieldBytes; ++i) {
        entry[2 * i] = uint8_t(units[i]);
        entry[2 * i + 1] = uint8_t(units[i] >> 8);
    }
    putLe32(entry.data() + kNameFieldBytes, uint32_t(size));
    return entry;
}

EntryBytes textEntry(const std::string& name, int32_t size) {
    std::vector<uint16_t> units;
    for (const char c : name)
        units.push_back(uint8_t(c)); // never sign-extended into a unit above 255
    return unitEntry(units, size);
}

Bytes frameBytes(uint8_t code) {
    const Frame frame = BuildFrame(code);
    return Bytes(frame.begin(), frame.end());
}

Bytes tableMessage(const std::vector<EntryBytes>& entries, uint32_t crcDelta) {
    Bytes table;
    for (const EntryBytes& entry : entries)
        table.insert(table.end(), entry.begin(), entry.end());
    Bytes message(kTableHeaderSize + table.size());
    BuildFileTableMessage(table, message);
    putLe32(message.data() + 5, getLe32(message.data() + 5) + crcDelta);
    return message;
}

Bytes tableMessage(const TableEntries& entries, uint32_t crcDelta) {
    std::vector<EntryBytes> built;
    for (const auto& [name, size] : entries)
        built.push_back(textEntry(name, size));
    return tableMessage(built, crcDelta);
}

Bytes openMessage(uint8_t index) {
    const auto open = BuildOpenMessage(index);
    return Bytes(open.begin(), open.end());
}

Bytes blockMessage(int32_t k, const Bytes& data, uint32_t crcDelta) {
    Bytes message(kBlockHeaderSize + data.size());
    BuildBlockMessage(k, data, message);
    putLe32(message.data() + 8, getLe32(message.data() + 8) + crcDelta);
    return message;
}

Bytes nameBlock(const std::string& name) {
    Bytes block(kNameBlockSize, 0);
    std::memcpy(block.data(), name.data(), std::min(name.size(), kNameBlockSize - 1));
    return block;
}

Bytes slice(const Bytes& bytes, size_t begin, size_t length) {
    begin = std::min(begin, bytes.size());
    const size_t end = std::min(bytes.size(), begin + length);
    return Bytes(bytes.begin() + long(begin), bytes.begin() + long(end));
}

Bytes blockOf(const Bytes& data, int32_t k, int32_t blockSize) {
    return slice(data, size_t(k) * size_t(blockSize), size_t(blockSize));
}

} // namespace zapfer::test
