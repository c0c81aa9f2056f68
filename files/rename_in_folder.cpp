#include "rename_in_folder.h"

#include "directory_listing.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace zapfer {

RenameResult renameInFolder(const QString& folder, const QString& oldName, const QString& newName) {
    using Status = RenameResult::Status;
    if (newName.isEmpty() || newName == QStringLiteral(".") || newName == QStringLiteral("..") ||
        newName.contains(QLatin1Char('/')))
        return {Status::BadName, {}};
    const QByteArray from = QFile::encodeName(joinPath(folder, oldName));
    const QByteArray to = QFile::encodeName(joinPath(folder, newName));
    int rc = renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without RENAME_NOREPLACE: check, then rename.
        struct stat st {};
        if (lstat(to.constData(), &st) == 0) {
            errno = EEXIST;
        } else {
            rc = ::rename(from.constData(), to.constData());
        }
    }
    if (rc == 0)
        return {Status::Renamed, {}};
    if (errno == EEXIST || errno == ENOTEMPTY)
        return {Status::Exists, {}};
    return {Status::Failed, QString::fromLocal8Bit(std::strerror(errno))};
}

} // namespace zapfer
