#pragma once

namespace zapfer {

// Renames `from` (relative to `fromDir`) to `to` (relative to `toDir`) and
// never replaces an existing `to`: on a file system without
// RENAME_NOREPLACE a hard link stands in, which is why a folder (`isDir`)
// cannot be moved there. False with errno set when nothing was renamed.
bool renameNoReplace(int fromDir, const char* from, int toDir, const char* to, bool isDir);

} // namespace zapfer
