#include "file_tree.h"

#include <QFile>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapfer::test {

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

bool setImmutable(const QString& path, bool on) {
    const int fd = open(native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

} // namespace

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool exists(const QString& path) {
    struct stat st {};
    return lstat(native(path).constData(), &st) == 0;
}

bool isDirectory(const QString& path) {
    struct stat st {};
    return lstat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

mode_t permissions(const QString& path) {
    struct stat st {};
    return lstat(native(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool onDifferentFileSystems(const QString& a, const QString& b) {
    struct stat first {
    }, second{};
    return stat(native(a).constData(), &first) == 0 && stat(native(b).constData(), &second) == 0 &&
           first.st_dev != second.st_dev;
}

int64_t modifiedSeconds(const QString& path) {
    struct stat st {};
    return lstat(native(path).constData(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

bool setModified(const QString& path, int64_t seconds) {
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return utimensat(AT_FDCWD, native(path).constData(), times, 0) == 0;
}

bool makeUndeletable(const QString& folder, const QString& file, std::function<void()>* undo) {
    const QString path = folder + QLatin1Char('/') + file;
    if (setImmutable(path, true)) {
        *undo = [path] { setImmutable(path, false); };
        return true;
    }
    if (geteuid() == 0)
        return false; // root deletes from a folder without write permission
    if (chmod(native(folder).constData(), 0555) != 0)
        return false;
    *undo = [folder] { chmod(native(folder).constData(), 0755); };
    return true;
}

} // namespace zapfer::test
