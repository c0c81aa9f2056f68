#pragma once

// The peer protocol's bytes: command frames, the file table, open, block and
// block-reply messages, and the block arithmetic. Pure functions over byte
// spans; nothing here touches a socket or a file.

#include "comm_type.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zapfer {

enum Command : uint8_t {
    CMD_PING = 80,
    CMD_PING_REPLY = 81,
    CMD_OK = 82,
    CMD_BAD_TABLE = 83,
    CMD_BLOCK_OK = 84,
    CMD_BLOCK_BAD = 85,
    CMD_KEEPALIVE = 86,
    CMD_KEEPALIVE_REPLY = 87,
    CMD_NAME_REQUEST = 88,
    CMD_NAME_FOLLOWS = 89,
    CMD_READ_BLOCK = 91,
    CMD_BLOCK = 92,
    CMD_OPEN_READ = 93,
    CMD_CLOSE_READ = 94,
    CMD_OPEN_FILE = 95,
    CMD_CLOSE_FILE = 96,
    CMD_FILE_TABLE = 97,
    CMD_CONNECT = 98,
    CMD_ACCEPTED = 99,
    CMD_ABORT = 100,
    CMD_NO_SPACE = 101,
    CMD_NAME_CONFLICT = 102,
    CMD_CANNOT_CREATE = 103,
};

inline constexpr size_t kFrameSize = 4;
inline constexpr uint8_t kFrameMarker = 0xFF;
inline constexpr uint8_t kFrameEnd = 0x11;
inline constexpr size_t kEntrySize = 256;
inline constexpr size_t kNameFieldBytes = 252;
inline constexpr size_t kMaxNameUnits = 125;
inline constexpr int kMaxEntries = 100;
inline constexpr size_t kTableHeaderSize = 9;  // frame, count, CRC
inline constexpr size_t kBlockHeaderSize = 12; // frame, index, CRC
inline constexpr size_t kBlockReplySize = 8;   // socket link: frame, index
inline constexpr size_t kNameBlockSize = 256;
inline constexpr size_t kMaxFileNamePart = 127;
inline constexpr int64_t kMaxFileSize = 0x7FFFFFFF; // the size field is signed 32-bit

using Frame = std::array<uint8_t, kFrameSize>;
using EntryBytes = std::array<uint8_t, kEntrySize>;

// --- little-endian fields -------------------------------------------------
void putLe32(uint8_t* out, uint32_t value);
uint32_t getLe32(const uint8_t* in);

// --- frames ----------------------------------------------------------------
Frame BuildFrame(uint8_t code);
// The command of a valid frame (b1 = 0xFF, b3 = 0x11, b0 = b2), else 0.
uint8_t FrameCommand(const uint8_t* bytes);
bool isKnownCommand(uint8_t code);

// --- names -------------------------------------------------------------------
enum class PathSource {
    Local, // a path of this machine: "/" separates
    Wire,  // a path from a peer: "\" and "/" both separate
};
// The text after the last separator (the whole text when there is none); when
// longer than 127 characters, its last 127.
std::string FileNamePart(std::string_view path, PathSource source = PathSource::Local);

// A received name that may safely be created in the destination folder: not
// empty, not "." or "..", no control character and no separator.
bool isSafeReceivedName(std::string_view name);

// The name a safe received name is stored under: its leading dots become "_",
// so that a peer can never plant a hidden file such as a shell profile.
std::string storedReceivedName(std::string_view safeName);

// --- file table entries -----------------------------------------------------
struct TransferEntry {
    std::string name; // bytes, one per unit, up to the terminator
    int32_t size = 0;
};

enum class EntryError { None, NameTooLong, EmptyName, SizeOutOfRange };

// Encodes a local path: "/" becomes "\"; a path over 125 units goes as its file
// name alone, and a file name over 125 units cannot be sent.
EntryError EncodeTransferEntry(std::string_view localPath, int64_t size, EntryBytes& out);
// Decodes an entry; a unit above 255 ends the name, as does the end of the field.
TransferEntry DecodeTransferEntry(const uint8_t* entry);

// --- messages ----------------------------------------------------------------
// The file table message for `entries` (a whole number of 256-byte entries,
// at most 100); returns the bytes written to `out` (9 + entries.size()).
size_t BuildFileTableMessage(std::span<const uint8_t> entries, std::span<uint8_t> out);

enum class TableCheck { Valid, TooManyEntries, Short, BadCrc };
TableCheck CheckFileTable(uint8_t count, uint32_t crc, std::span<const uint8_t> received);

std::array<uint8_t, 5> BuildOpenMessage(uint8_t entryIndex);

std::array<uint8_t, kBlockHeaderSize> BuildBlockHeader(int32_t index, uint32_t crc);
// Header and data into `out`; returns 12 + data.size().
size_t BuildBlockMessage(int32_t index, std::span<const uint8_t> data, std::span<uint8_t> out);

std::array<uint8_t, kBlockReplySize> BuildBlockReply(uint8_t code, int32_t index);

// --- block arithmetic --------------------------------------------------------
// Socket link: ceil(size / blockSize). Serial link: size / blockSize + 1, so the
// last block is always short (zero bytes when size is a multiple).
int32_t FileBlocks(LinkKind link, int64_t size, int32_t blockSize);
// Length of block k of a file of `size` bytes.
int32_t BlockLength(int32_t k, int64_t size, int32_t blockSize);

} // namespace zapfer
