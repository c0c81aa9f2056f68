#pragma once

// What the socket and the serial sender share.

#include <cstddef>
#include <cstdint>

namespace zapfer {

// Exactly `length` bytes of `fd` at `offset`; false on an error or a file that
// has shrunk since the send started.
bool readAt(int fd, uint8_t* buffer, size_t length, int64_t offset);

// The refusal a reply carries (PeerNoSpace, PeerNameConflict,
// PeerCannotCreate), or PeerNoError for any other reply.
int32_t refusalOf(uint8_t reply);

} // namespace zapfer
