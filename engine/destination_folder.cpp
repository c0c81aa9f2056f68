#include "destination_folder.h"

#include "unique_fd.h"

#include <chrono>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace zapfer {

namespace {
// A temporary file left unchanged this long by a receiver that holds no lock
// on it is a leftover.
constexpr time_t kLeftoverAgeS = 60;
} // namespace

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

NameHolds whatNameHolds(int dirFd, const std::string& name) {
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return NameHolds::Nothing;
    return S_ISDIR(st.st_mode) ? NameHolds::Folder : NameHolds::SomethingElse;
}

namespace {
// Once a folder was swept, the files a gone receiver may leave there age
// for a minute before they count: sweeping it again sooner finds nothing,
// and would cost a listing of the folder on every table.
bool sweptLately(int dirFd) {
    struct stat folder;
    if (::fstat(dirFd, &folder) != 0)
        return false;
    static std::mutex mutex;
    static std::map<std::pair<dev_t, ino_t>, std::chrono::steady_clock::time_point> swept;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    if (swept.size() > 64)
        swept.clear();
    auto [at, added] = swept.try_emplace({folder.st_dev, folder.st_ino}, now);
    if (!added && now - at->second < std::chrono::seconds(kLeftoverAgeS))
        return true;
    at->second = now;
    return false;
}
} // namespace

void removeLeftovers(int dirFd) {
    if (sweptLately(dirFd))
        return;
    UniqueFd listing(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = listing ? ::fdopendir(listing.get()) : nullptr;
    if (!dir)
        return;
    listing.release(); // closedir closes it
    const std::string prefix = kTempPrefix;
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(prefix, 0) != 0)
            continue;
        // Never through a link, never blocking on a device or a pipe.
        UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened;
        if (!fd || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
            continue;
        // A file made a moment ago may not hold its lock yet.
        if (now - opened.st_mtime < kLeftoverAgeS)
            continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue; // a running receiver is writing it
        struct stat named;
        if (::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(opened, named))
            ::unlinkat(dirFd, name.c_str(), 0);
    }
    ::closedir(dir);
}

int64_t freeBytes(int dirFd) {
    struct statvfs vfs;
    if (::fstatvfs(dirFd, &vfs) != 0)
        return -1;
    return int64_t(vfs.f_bavail) * int64_t(vfs.f_frsize);
}

} // namespace zapfer
