#include "protocol.h"

#include "crc.h"

#include <algorithm>
#include <cstring>

namespace zapfer {

void putLe32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t getLe32(const uint8_t* in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

Frame BuildFrame(uint8_t code) {
    return {code, kFrameMarker, code, kFrameEnd};
}

uint8_t FrameCommand(const uint8_t* b) {
    if (b[1] == kFrameMarker && b[3] == kFrameEnd && b[0] == b[2])
        return b[0];
    return 0;
}

bool isKnownCommand(uint8_t code) {
    return code >= CMD_PING && code <= CMD_CANNOT_CREATE && code != 90;
}

std::string FileNamePart(std::string_view path, PathSource source) {
    const size_t cut =
        source == PathSource::Wire ? path.find_last_of("\\/") : path.find_last_of('/');
    std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    if (name.size() > kMaxFileNamePart)
        name = name.substr(name.size() - kMaxFileNamePart);
    return std::string(name);
}

bool isSafeReceivedName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7F || c == '/' || c == '\\';
    });
}

std::string storedReceivedName(std::string_view safeName) {
    std::string stored(safeName);
    const size_t dots = std::min(stored.find_first_not_of('.'), stored.size());
    stored.replace(0, dots, dots, '_');
    return stored;
}

EntryError EncodeTransferEntry(std::string_view localPath, int64_t size, EntryBytes& out) {
    if (size < 0 || size > kMaxFileSize)
        return EntryError::SizeOutOfRange;
    const size_t slash = localPath.find_last_of('/');
    const std::string_view name =
        slash == std::string_view::npos ? localPath : localPath.substr(slash + 1);
    if (name.size() > kMaxNameUnits)
        return EntryError::NameTooLong;
    std::string wire(localPath.size() > kMaxNameUnits ? name : localPath);
    if (name.empty())
        return EntryError::EmptyName;
    std::replace(wire.begin(), wire.end(), '/', '\\');
    out.fill(0);
    for (size_t i = 0; i < wire.size(); ++i)
        out[2 * i] = static_cast<uint8_t>(wire[i]); // high byte of the unit stays 0
    putLe32(out.data() + kNameFieldBytes, static_cast<uint32_t>(size));
    return EntryError::None;
}

TransferEntry DecodeTransferEntry(const uint8_t* entry) {
    TransferEntry result;
    for (size_t i = 0; i + 1 < kNameFieldBytes; i += 2) {
        const unsigned unit = entry[i] | unsigned(entry[i + 1]) << 8;
        if (unit == 0 || unit > 255)
            break;
        result.name.push_back(static_cast<char>(unit));
    }
    result.size = static_cast<int32_t>(getLe32(entry + kNameFieldBytes));
    return result;
}

size_t BuildFileTableMessage(std::span<const uint8_t> entries, std::span<uint8_t> out) {
    const size_t count = entries.size() / kEntrySize;
    const size_t total = kTableHeaderSize + count * kEntrySize;
    if (count > size_t(kMaxEntries) || out.size() < total)
        return 0;
    const Frame frame = BuildFrame(CMD_FILE_TABLE);
    std::memcpy(out.data(), frame.data(), kFrameSize);
    out[4] = static_cast<uint8_t>(count);
    putLe32(out.data() + 5, BlockCrc(entries.data(), count * kEntrySize));
    if (count > 0)
        std::memcpy(out.data() + kTableHeaderSize, entries.data(), count * kEntrySize);
    return total;
}

TableCheck CheckFileTable(uint8_t count, uint32_t crc, std::span<const uint8_t> received) {
    if (count > kMaxEntries)
        return TableCheck::TooManyEntries;
    if (received.size() < size_t(count) * kEntrySize)
        return TableCheck::Short;
    if (BlockCrc(received.data(), size_t(count) * kEntrySize) != crc)
        return TableCheck::BadCrc;
    return TableCheck::Valid;
}

std::array<uint8_t, 5> BuildOpenMessage(uint8_t entryIndex) {
    return {CMD_OPEN_FILE, kFrameMarker, CMD_OPEN_FILE, kFrameEnd, entryIndex};
}

std::array<uint8_t, kBlockHeaderSize> BuildBlockHeader(int32_t index, uint32_t crc) {
    std::array<uint8_t, kBlockHeaderSize> header{CMD_BLOCK, kFrameMarker, CMD_BLOCK, kFrameEnd};
    putLe32(header.data() + 4, static_cast<uint32_t>(index));
    putLe32(header.data() + 8, crc);
    return header;
}

size_t BuildBlockMessage(int32_t index, std::span<const uint8_t> data, std::span<uint8_t> out) {
    if (out.size() < kBlockHeaderSize + data.size())
        return 0;
    const auto header = BuildBlockHeader(index, BlockCrc(data.data(), data.size()));
    std::memcpy(out.data(), header.data(), header.size());
    if (!data.empty())
        std::memcpy(out.data() + kBlockHeaderSize, data.data(), data.size());
    return kBlockHeaderSize + data.size();
}

std::array<uint8_t, kBlockReplySize> BuildBlockReply(uint8_t code, int32_t index) {
    std::array<uint8_t, kBlockReplySize> reply{code, kFrameMarker, code, kFrameEnd};
    putLe32(reply.data() + 4, static_cast<uint32_t>(index));
    return reply;
}

int32_t FileBlocks(LinkKind link, int64_t size, int32_t blockSize) {
    if (size < 0 || blockSize <= 0)
        return 0;
    const int64_t blocks =
        link == LinkKind::Socket ? (size + blockSize - 1) / blockSize : size / blockSize + 1;
    return static_cast<int32_t>(blocks);
}

int32_t BlockLength(int32_t k, int64_t size, int32_t blockSize) {
    if (k < 0 || blockSize <= 0)
        return 0;
    if ((int64_t(k) + 1) * blockSize <= size)
        return blockSize;
    if (int64_t(k) * blockSize > size)
        return 0; // beyond the end of the file
    return static_cast<int32_t>(size & (blockSize - 1));
}

} // namespace zapfer
