#include "move_copy.h"

#include "directory_listing.h"
#include "file_paths.h"
#include "rename_no_replace.h"
#include "string_table.h"
#include "temporary_name.h"
#include "unique_fd.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zapfer {

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr int kTempAttempts = 100;

enum class Mode { Move, Copy };

// Removes the temporary copy unless it was renamed into place.
class TempFile {
public:
    TempFile(int dirFd, QByteArray name) : m_dirFd(dirFd), m_name(std::move(name)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!m_kept)
            unlinkat(m_dirFd, m_name.constData(), 0);
    }
    const char* name() const { return m_name.constData(); }
    void keep() { m_kept = true; }

private:
    int m_dirFd;
    QByteArray m_name;
    bool m_kept = false;
};

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

CopyOutcome copyContents(int from, int to, OperationProgress& progress) {
    std::vector<char> buffer(kChunk);
    off_t offset = 0;
    for (;;) {
        if (progress.cancelled())
            return CopyOutcome::Cancelled;
        const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return CopyOutcome::Failed;
        if (n == 0)
            return CopyOutcome::Done;
        if (!writeAll(to, buffer.data(), size_t(n)))
            return CopyOutcome::Failed;
        offset += n;
        progress.addDone(n);
    }
}

CopyOutcome copyOpenFile(int from, const struct stat& st, const QByteArray& target, bool durable,
                         OperationProgress& progress) {
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray name = target.mid(slash + 1);
    UniqueFd dirFd(open(slash <= 0 ? "/" : target.left(slash).constData(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd || name.isEmpty())
        return CopyOutcome::Failed;
    // Spare a long copy whose end could only fail.
    struct stat existing {};
    if (fstatat(dirFd.get(), name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return CopyOutcome::Failed;

    UniqueFd out;
    QByteArray tempName;
    for (int attempt = 0; attempt < kTempAttempts && !out; ++attempt) {
        tempName = QByteArray::fromStdString(temporaryName(".zapfer-copy-"));
        out.reset(openat(dirFd.get(), tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                         0600));
        if (!out && errno != EEXIST)
            return CopyOutcome::Failed;
    }
    if (!out)
        return CopyOutcome::Failed;
    TempFile temp(dirFd.get(), tempName);

    const CopyOutcome outcome = copyContents(from, out.get(), progress);
    if (outcome != CopyOutcome::Done)
        return outcome;
    // Set-id bits are not copied: the copy belongs to whoever copies.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (fchmod(out.get(), st.st_mode & 0777) != 0 || futimens(out.get(), times) != 0)
        return CopyOutcome::Failed;
    if (durable && fsync(out.get()) != 0)
        return CopyOutcome::Failed;
    if (close(out.release()) != 0)
        return CopyOutcome::Failed;
    if (!renameNoReplace(dirFd.get(), temp.name(), dirFd.get(), name.constData(), false))
        return CopyOutcome::Failed;
    temp.keep();
    return CopyOutcome::Done;
}

CopyOutcome copyPath(const QByteArray& source, const QByteArray& target, bool followLinks,
                     bool durable, OperationProgress& progress) {
    struct stat st {};
    // Opening a fifo or device could block or never end: regular files only.
    if (fstatat(AT_FDCWD, source.constData(), &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return CopyOutcome::Failed;
    UniqueFd in(open(source.constData(),
                     O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW)));
    if (!in || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return CopyOutcome::Failed;
    return copyOpenFile(in.get(), st, target, durable, progress);
}

// A move to another file system: a copy that reaches the disk, then the
// source goes; if the source cannot go, the copy goes instead.
CopyOutcome moveAcross(const QByteArray& source, const QByteArray& target, const struct stat& st,
                       OperationProgress& progress) {
    if (S_ISLNK(st.st_mode)) {
        // One byte more than the link's length shows that nothing was cut.
        std::vector<char> link(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 2);
        const ssize_t n = readlink(source.constData(), link.data(), link.size());
        if (n < 0 || size_t(n) >= link.size())
            return CopyOutcome::Failed;
        link[size_t(n)] = '\0';
        if (symlink(link.data(), target.constData()) != 0)
            return CopyOutcome::Failed;
    } else {
        const CopyOutcome outcome = copyPath(source, target, false, true, progress);
        if (outcome != CopyOutcome::Done)
            return outcome;
    }
    if (unlink(source.constData()) == 0)
        return CopyOutcome::Done;
    unlink(target.constData());
    return CopyOutcome::Failed;
}

CopyOutcome moveItem(const QByteArray& source, const QByteArray& target,
                     OperationProgress& progress) {
    struct stat st {};
    if (lstat(source.constData(), &st) != 0)
        return CopyOutcome::Failed;
    if (renameNoReplace(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                        S_ISDIR(st.st_mode)))
        return CopyOutcome::Done;
    if (errno != EXDEV || S_ISDIR(st.st_mode))
        return CopyOutcome::Failed;
    return moveAcross(source, target, st, progress);
}

// Bytes a copy of `path` would move; folders and the rest count nothing.
int64_t copySize(const QByteArray& path) {
    struct stat st {};
    return stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

// Counts what one item reported, so the item can be completed to its share.
class ItemProgress final : public OperationProgress {
public:
    explicit ItemProgress(OperationProgress& inner) : m_inner(inner) {}
    bool cancelled() const override { return m_inner.cancelled(); }
    void addTotal(int64_t units) override { m_inner.addTotal(units); }
    void addDone(int64_t units) override {
        m_done += units;
        m_inner.addDone(units);
    }
    int64_t done() const { return m_done; }

private:
    OperationProgress& m_inner;
    int64_t m_done = 0;
};

OperationResult transferSelected(Mode mode, const QString& curDir, const QStringList& names,
                                 const QString& destination, OperationProgress& overall) {
    OperationResult result;
    result.requested = int(names.size());
    // A typed relative destination names a folder below the one shown.
    const QString target = QDir::isAbsolutePath(destination) || curDir.isEmpty()
                               ? destination
                               : joinPath(curDir, destination);
    const bool usable = !curDir.isEmpty() && target.startsWith(QLatin1Char('/'));
    std::vector<int64_t> shares;
    for (const QString& name : names) {
        // One unit per item keeps the bar moving for renames and empty files.
        shares.push_back(
            1 + (usable && isPlainName(name) ? copySize(nativePath(joinPath(curDir, name))) : 0));
        overall.addTotal(shares.back());
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (overall.cancelled()) {
            result.cancelled = true;
            break;
        }
        ItemProgress progress(overall);
        CopyOutcome outcome = CopyOutcome::Failed;
        if (usable && isPlainName(names[i])) {
            const QByteArray source = nativePath(joinPath(curDir, names[i]));
            const QByteArray targetPath = nativePath(joinPath(target, names[i]));
            outcome = mode == Mode::Move ? moveItem(source, targetPath, progress)
                                         : copyPath(source, targetPath, true, false, progress);
        }
        if (outcome == CopyOutcome::Cancelled) {
            result.cancelled = true;
            break;
        }
        ++(outcome == CopyOutcome::Done ? result.succeeded : result.failed);
        overall.addDone(std::max<int64_t>(0, shares[size_t(i)] - progress.done()));
    }
    return result;
}

} // namespace

bool isSameDirectory(const QString& destination, const QString& curDir) {
    return destination == curDir;
}

UserMessage sameDirectoryRefusal() {
    return {loadString(str::SameDirectory), loadString(str::Error)};
}

OperationResult MoveSelected(const QString& curDir, const QStringList& names,
                             const QString& destination, OperationProgress& progress) {
    return transferSelected(Mode::Move, curDir, names, destination, progress);
}

OperationResult CopySelected(const QString& curDir, const QStringList& names,
                             const QString& destination, OperationProgress& progress) {
    return transferSelected(Mode::Copy, curDir, names, destination, progress);
}

UserMessage moveFailureMessage() {
    return {loadString(str::MoveFailed), loadString(str::MoveFilesTitle)};
}

UserMessage copyFailureMessage() {
    return {loadString(str::CopyFailed), loadString(str::CopyFilesTitle)};
}

CopyOutcome copyFileNoReplace(const QByteArray& source, const QByteArray& target, bool durable,
                              OperationProgress& progress) {
    return copyPath(source, target, true, durable, progress);
}

} // namespace zapfer
