#pragma once

// What a receiver does when a file arriving has the name of one already in
// the destination folder, and the names "Keep both" gives the newcomer.

#include "transfer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zapfer {

// The stored numbers ("NameConflict") are part of the settings file.
enum class NameConflict : uint32_t {
    Refuse = 0,   // the whole table is answered CMD_NAME_CONFLICT
    Replace = 1,  // the new file takes the name
    KeepBoth = 2, // the new file is stored under the first free "name (N).ext"
};

std::optional<NameConflict> nameConflictFromIndex(uint32_t index);

// The choice from the stored "NameConflict" and "Preferences" values. Bit 4
// of "Preferences" (16, overwrite) is written in step with Replace, and is
// what an older Zapfer reads and writes; where the two disagree, the older
// program changed bit 4 since, and bit 4 wins. Without "NameConflict" the
// choice is bit 4's.
NameConflict storedNameConflict(std::optional<uint32_t> nameConflict,
                                std::optional<uint32_t> preferences);
inline constexpr uint32_t kOverwriteFilesBit = 16;

// A received file that Keep both stored under a numbered name, not the one
// it was sent with.
bool storedUnderOtherName(const FileOutcome& file);

// The largest number Keep both tries before it gives the file up; far past
// anything a folder holds in practice, yet a bound on the work per file.
inline constexpr uint32_t kMaxKeptCopy = 100'000;

// `name` with " (number)" before its extension: "report (2).pdf",
// "notes (2)", ".profile (2)" (a leading dot starts no extension),
// "archive.tar (2).gz". The result never exceeds the 255 bytes a file name may
// hold: the part before the number is shortened, on a character boundary.
std::string numberedName(std::string_view name, uint32_t number);

} // namespace zapfer
