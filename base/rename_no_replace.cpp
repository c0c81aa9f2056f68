#include "rename_no_replace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace zapfer {

bool renameNoReplace(int fromDir, const char* from, int toDir, const char* to, bool isDir) {
    if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return true;
    // A file system without RENAME_NOREPLACE: a hard link never replaces
    // anything either, but only works for what is not a folder.
    if (errno != EINVAL || isDir)
        return false;
    if (linkat(fromDir, from, toDir, to, 0) != 0)
        return false;
    if (unlinkat(fromDir, from, 0) == 0)
        return true;
    const int error = errno;
    unlinkat(toDir, to, 0);
    errno = error;
    return false;
}

} // namespace zapfer
