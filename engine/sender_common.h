#pragma once

// What the socket and the serial sender share.

#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zapfer {

// The file at `path` opened for reading its blocks; invalid when it cannot be
// read or is no longer a regular file (a FIFO put in its place would block the
// open, a folder would pass for an empty file).
UniqueFd openForSending(const std::string& path);

// Exactly `length` bytes of `fd` at `offset`; false on an error or a file that
// has shrunk since the send started.
bool readAt(int fd, uint8_t* buffer, size_t length, int64_t offset);

// The refusal a reply carries (PeerNoSpace, PeerNameConflict,
// PeerCannotCreate), or PeerNoError for any other reply.
int32_t refusalOf(uint8_t reply);

} // namespace zapfer
