#pragma once

// The destination folder as the receiver sees it: what is there, what it
// holds free, and the leftovers of receivers that have gone.

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace zapfer {

// What the name `name` in `dirFd` holds, by one look at it (links not
// followed: a link, even a dangling one, is something else).
enum class NameHolds {
    Nothing,
    Folder,
    SomethingElse,
};
NameHolds whatNameHolds(int dirFd, const std::string& name);
// Removes the temporary files of receivers that have gone (killed, or cut off
// by a power loss) from the folder `dirFd`: those no running receiver holds
// locked. A folder is swept at most once a minute.
void removeLeftovers(int dirFd);
// Bytes free for this user on the file system of `dirFd`; -1 when unknown.
int64_t freeBytes(int dirFd);
// Leftover temporary files of an interrupted run are hidden names with this prefix.
inline constexpr const char* kTempPrefix = ".zapfer-part-";

// The same file, whatever names it has.
bool sameFile(const struct stat& a, const struct stat& b);

} // namespace zapfer
