#include "delete_files.h"

#include "directory_listing.h"
#include "file_paths.h"
#include "string_table.h"
#include "unique_fd.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace zapfer {

namespace {

constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A file without any write permission bit is read-only, and a read-only
// file is kept: unlink would remove it regardless, since only the folder's
// permissions count there. A link has no mode of its own and never is.
bool isReadOnlyFile(int dirFd, const char* name) {
    struct stat st {};
    return fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode) &&
           !S_ISDIR(st.st_mode) && (st.st_mode & 0222) == 0;
}

// Deletes a file, a link or anything else that is not a folder.
bool removeNonFolder(int dirFd, const char* name) {
    if (isReadOnlyFile(dirFd, name)) {
        errno = EACCES;
        return false;
    }
    return unlinkat(dirFd, name, 0) == 0;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirStream = std::unique_ptr<DIR, DirCloser>;

// Deletes one tree with an explicit stack of folders instead of recursion,
// so no depth can exhaust the call stack. Only the deepest folders keep an
// open stream; a folder whose stream was closed to spare descriptors is
// reopened through ".." of its child (checked against the device and inode
// it had, so a tree moved meanwhile is not followed) and read again from the
// start, skipping what was already found undeletable.
class TreeDeleter {
public:
    TreeDeleter(int parentFd, std::string name, OperationProgress& progress)
        : m_parentFd(parentFd), m_name(std::move(name)), m_progress(progress) {}

    TreeDeletion run() {
        UniqueFd fd(openat(m_parentFd, m_name.c_str(), kOpenFlags));
        if (fd) {
            struct stat st {};
            if (fstat(fd.get(), &st) != 0)
                return TreeDeletion::Failed;
            m_dev = st.st_dev;
            DIR* dir = fdopendir(fd.get());
            if (!dir)
                return TreeDeletion::Failed;
            fd.release();
            m_levels.push_back(Level{DirStream(dir), st.st_dev, st.st_ino, m_name, {}});
            if (!walk())
                return m_cancelled ? TreeDeletion::Cancelled : TreeDeletion::Failed;
        }
        if (unlinkat(m_parentFd, m_name.c_str(), AT_REMOVEDIR) != 0)
            return TreeDeletion::Failed;
        return TreeDeletion::Deleted;
    }

private:
    static constexpr size_t kMaxOpenLevels = 64;

    struct Level {
        DirStream dir; // null while closed
        dev_t dev;
        ino_t ino;
        std::string name;                     // in its parent
        std::unordered_set<std::string> kept; // entries that could not be deleted
    };

    // False when the walk had to stop (cancelled, or the tree moved away).
    bool walk() {
        while (!m_levels.empty()) {
            if (m_progress.cancelled()) {
                m_cancelled = true;
                return false;
            }
            Level& top = m_levels.back();
            const int fd = dirfd(top.dir.get());
            errno = 0;
            const dirent* entry = readdir(top.dir.get());
            if (!entry) {
                if (errno != 0)
                    m_failed = true;
                if (!finishLevel())
                    return false;
                continue;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || top.kept.contains(name))
                continue;
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                isDir =
                    fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
            }
            if (isDir ? descend(fd, name) : removeFile(fd, name))
                continue;
            m_levels.back().kept.insert(name);
            m_failed = true;
        }
        return true;
    }

    bool removeFile(int dirFd, const std::string& name) {
        if (removeNonFolder(dirFd, name.c_str()) || errno == ENOENT)
            return true;
        return errno == EISDIR && descend(dirFd, name);
    }

    bool descend(int dirFd, const std::string& name) {
        UniqueFd fd(openat(dirFd, name.c_str(), kOpenFlags));
        if (!fd) {
            // Replaced by a link or a file since it was read: remove that.
            if (errno == ENOTDIR || errno == ELOOP)
                return removeNonFolder(dirFd, name.c_str());
            return errno == ENOENT;
        }
        struct stat st {};
        if (fstat(fd.get(), &st) != 0 || st.st_dev != m_dev)
            return false;
        DIR* dir = fdopendir(fd.get());
        if (!dir)
            return false;
        fd.release();
        if (m_levels.size() - m_firstOpen >= kMaxOpenLevels)
            m_levels[m_firstOpen++].dir.reset();
        m_levels.push_back(Level{DirStream(dir), st.st_dev, st.st_ino, name, {}});
        return true;
    }

    // The deepest folder has been read to its end: remove it from its parent.
    bool finishLevel() {
        const size_t i = m_levels.size() - 1;
        if (i == 0) {
            m_levels.clear();
            return true;
        }
        Level& parent = m_levels[i - 1];
        if (!parent.dir) {
            UniqueFd fd(openat(dirfd(m_levels[i].dir.get()), "..", kOpenFlags));
            struct stat st {};
            if (!fd || fstat(fd.get(), &st) != 0 || st.st_dev != parent.dev ||
                st.st_ino != parent.ino)
                return false;
            DIR* dir = fdopendir(fd.get());
            if (!dir)
                return false;
            fd.release();
            parent.dir.reset(dir);
            m_firstOpen = i - 1;
        }
        const std::string name = std::move(m_levels[i].name);
        m_levels.pop_back();
        if (unlinkat(dirfd(parent.dir.get()), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            parent.kept.insert(name);
            m_failed = true;
        }
        return true;
    }

    int m_parentFd;
    std::string m_name;
    OperationProgress& m_progress;
    dev_t m_dev = 0;
    std::vector<Level> m_levels;
    size_t m_firstOpen = 0; // levels below this index have no open stream
    bool m_failed = false;
    bool m_cancelled = false;
};

// Only a directory itself (not a link to one) is deleted as a tree.
bool isFolder(int dirFd, const QByteArray& name, bool* exists) {
    struct stat st {};
    *exists = fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    return *exists && S_ISDIR(st.st_mode);
}

} // namespace

UserMessage deleteQuestion(const QString& curDir, const QStringList& names) {
    UserMessage question;
    if (names.size() == 1) {
        const QString& name = names.front();
        const QString path = curDir.isEmpty() ? name : joinPath(curDir, name);
        bool exists = false;
        if (!isFolder(AT_FDCWD, nativePath(path), &exists) && exists) {
            question = {loadString(str::ConfirmFileDelete).arg(name),
                        loadString(str::DeleteFilesTitle)};
        } else {
            question = {loadString(str::ConfirmFolderDelete).arg(name),
                        loadString(str::ConfirmFolderDeleteTitle)};
        }
    } else {
        question = {loadString(str::ConfirmMultipleDelete).arg(names.size()),
                    loadString(str::ConfirmMultipleDeleteTitle)};
    }
    question.text += QStringLiteral("\n\n") + loadString(str::DeletionIsFinal);
    return question;
}

bool confirmDeletion(const QString& curDir, const QStringList& names, bool promptDelete,
                     const std::function<bool(const UserMessage&)>& askYesNo) {
    return !promptDelete || askYesNo(deleteQuestion(curDir, names));
}

UserMessage deleteFailureMessage() {
    return {loadString(str::DeleteFailed), loadString(str::DeleteFilesTitle)};
}

OperationResult DeleteSelected(const QString& curDir, const QStringList& names,
                               OperationProgress& progress) {
    OperationResult result;
    result.requested = int(names.size());
    progress.addTotal(names.size());
    UniqueFd dirFd;
    if (!curDir.isEmpty())
        dirFd.reset(open(nativePath(curDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QString& name : names) {
        if (progress.cancelled()) {
            result.cancelled = true;
            break;
        }
        bool ok = false;
        if (dirFd && isPlainName(name)) {
            const QByteArray native = nativePath(name);
            bool exists = false;
            if (isFolder(dirFd.get(), native, &exists)) {
                const TreeDeletion outcome =
                    TreeDeleter(dirFd.get(), native.toStdString(), progress).run();
                ok = outcome == TreeDeletion::Deleted;
                result.cancelled = outcome == TreeDeletion::Cancelled;
            } else if (exists) {
                ok = removeNonFolder(dirFd.get(), native.constData());
            }
        }
        ++(ok ? result.succeeded : result.failed);
        progress.addDone(1);
        if (result.cancelled)
            break;
    }
    return result;
}

TreeDeletion DeleteFolderTree(const QString& path, OperationProgress& progress) {
    QByteArray native = nativePath(path);
    while (native.size() > 1 && native.endsWith('/'))
        native.chop(1);
    const qsizetype slash = native.lastIndexOf('/');
    const QByteArray name = native.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return TreeDeletion::Failed;
    UniqueFd parentFd;
    if (slash >= 0) {
        const QByteArray parent = slash == 0 ? QByteArray("/") : native.left(slash);
        parentFd.reset(open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!parentFd)
            return TreeDeletion::Failed;
    }
    return TreeDeleter(slash >= 0 ? parentFd.get() : AT_FDCWD, name.toStdString(), progress).run();
}

} // namespace zapfer
