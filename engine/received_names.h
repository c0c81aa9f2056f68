#pragma once

// What a name sent by a peer becomes on this machine. Names travel as bytes:
// UTF-8 from a Linux peer, the code page's bytes from an older Windows one.
// Whatever arrives is stored as UTF-8 in NFC, so that two spellings of one
// name are one file, and a name that would fool a reader (C1 controls,
// bidirectional overrides) is refused like any other unsafe name.

#include <optional>
#include <string>
#include <string_view>

namespace zapfer {

// The name the file part of `wireName` is stored under in the destination
// folder; nothing when the table must be refused (CMD_CANNOT_CREATE).
std::optional<std::string> receivedFileName(std::string_view wireName);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);
// Bytes of Windows-1252 as UTF-8; its five unassigned bytes become the C1
// controls of the same value.
std::string windows1252ToUtf8(std::string_view bytes);
// True when valid UTF-8 `text` holds a C1 control (U+0080 to U+009F) or a
// bidirectional override or isolate (U+202A to U+202E, U+2066 to U+2069).
bool hasDeceptiveControl(std::string_view text);
// Valid UTF-8 `text` in Normalization Form C.
std::string toNfc(std::string_view text);

// A name fit for a terminal: control characters (C0, DEL, C1), the
// bidirectional controls above and bytes that are not UTF-8 are shown as
// escapes (\x1b, \u202e), never sent raw.
std::string printableName(std::string_view name);

} // namespace zapfer
