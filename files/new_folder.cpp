#include "new_folder.h"

#include "directory_listing.h"
#include "file_paths.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace zapfer {

namespace {

// Each test is one look-up; the bound only keeps a broken file system from
// looping for ever.
constexpr int kMaxNumber = 1'000'000;

QString defaultName(int number) {
    if (number == 0)
        return QCoreApplication::translate("NewFolder", "New Folder");
    return QCoreApplication::translate("NewFolder", "New Folder(%1)").arg(number);
}

bool taken(const QString& dir, const QString& name) {
    struct stat st {};
    // Any other failure (no access, not a folder) leaves the name to the
    // creation, which then reports it.
    return fstatat(AT_FDCWD, nativePath(joinPath(dir, name)).constData(), &st,
                   AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace

QString newFolderName(const QString& dir) {
    for (int number = 0; number <= kMaxNumber; ++number) {
        if (!taken(dir, defaultName(number)))
            return defaultName(number);
    }
    return {};
}

NewFolder CreateNewFolder(const QString& curDir) {
    if (curDir.isEmpty())
        return {{}, ENOENT};
    // Another program may take the free name between the look-up and the
    // creation: then the search goes on from there.
    for (int number = 0; number <= kMaxNumber; ++number) {
        const QString name = defaultName(number);
        if (taken(curDir, name))
            continue;
        if (mkdir(nativePath(joinPath(curDir, name)).constData(), 0777) == 0)
            return {name, 0};
        if (errno != EEXIST)
            return {{}, errno};
    }
    return {{}, EEXIST};
}

} // namespace zapfer
