#include "directory_listing.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace zapfer {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// Folders need no stat unless the entry's type is unknown or a link, which
// keeps a listing of many files at one stat per file.
bool statEntry(int dirFd, const dirent* entry, struct stat* st, bool* isDir) {
    if (entry->d_type == DT_DIR) {
        *isDir = true;
        return false;
    }
    if (fstatat(dirFd, entry->d_name, st, 0) == 0) {
        *isDir = S_ISDIR(st->st_mode);
        return true;
    }
    // A dangling link is listed as a file of size 0.
    if (fstatat(dirFd, entry->d_name, st, AT_SYMLINK_NOFOLLOW) == 0) {
        *isDir = false;
        st->st_size = 0;
        return true;
    }
    *isDir = entry->d_type == DT_DIR;
    return false;
}

} // namespace

QString joinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

void sortFileRecords(std::vector<FileRecord>& records, uint32_t sort) {
    std::sort(records.begin(), records.end(), [sort](const FileRecord& a, const FileRecord& b) {
        return CompareFileRecords(a, b, sort) < 0;
    });
}

std::vector<FileRecord> ListDirectory(const QString& path, bool foldersOnly, uint32_t sort,
                                      const QStringList& volumes, bool* ok) {
    std::vector<FileRecord> records;
    if (ok)
        *ok = true;
    if (path.isEmpty()) {
        records.reserve(volumes.size());
        for (int i = 0; i < volumes.size(); ++i)
            records.push_back(FileRecord::makeVolume(volumes[i], i));
        return records;
    }

    std::unique_ptr<DIR, DirCloser> dir(opendir(QFile::encodeName(path).constData()));
    if (!dir) {
        if (ok)
            *ok = false;
        return records;
    }
    const int dirFd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.' &&
            (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0')))
            continue;
        struct stat st {};
        bool isDir = false;
        const bool haveStat = statEntry(dirFd, entry, &st, &isDir);
        if (isDir) {
            if (entry->d_name[0] != '.')
                records.push_back(FileRecord::makeFolder(QFile::decodeName(entry->d_name)));
            continue;
        }
        if (foldersOnly)
            continue;
        records.push_back(FileRecord::makeFile(QFile::decodeName(entry->d_name),
                                               haveStat ? int64_t(st.st_size) : 0,
                                               haveStat ? int64_t(st.st_mtim.tv_sec) : 0));
    }
    sortFileRecords(records, sort);
    return records;
}

} // namespace zapfer
