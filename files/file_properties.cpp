#include "file_properties.h"

#include "directory_listing.h"
#include "file_paths.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <sys/stat.h>

namespace zapfer {

namespace {

QString fullPath(const QString& curDir, const QString& name) {
    return curDir.isEmpty() ? name : joinPath(curDir, name);
}

struct timespec toTimespec(const struct statx_timestamp& t) {
    struct timespec ts {};
    ts.tv_sec = t.tv_sec;
    ts.tv_nsec = t.tv_nsec;
    return ts;
}

} // namespace

FileProperties readFileProperties(const QString& curDir, const QString& name) {
    FileProperties properties;
    properties.name = name;
    struct statx stx {};
    if (statx(AT_FDCWD, nativePath(fullPath(curDir, name)).constData(), 0,
              STATX_BASIC_STATS | STATX_BTIME, &stx) != 0 ||
        (stx.stx_mask & (STATX_TYPE | STATX_MODE)) != (STATX_TYPE | STATX_MODE))
        return properties;
    properties.found = true;
    properties.folder = S_ISDIR(stx.stx_mode);
    properties.size = properties.folder ? 0 : int64_t(stx.stx_size);
    properties.mode = stx.stx_mode & 07777;
    properties.hasBirthTime = (stx.stx_mask & STATX_BTIME) != 0;
    properties.created = toTimespec(stx.stx_btime);
    properties.modified = toTimespec(stx.stx_mtime);
    properties.accessed = toTimespec(stx.stx_atime);
    return properties;
}

QString sizeText(const FileProperties& properties) {
    return QCoreApplication::translate("FileProperties", "%1 Bytes").arg(properties.size);
}

QString timeText(const struct timespec& time) {
    struct tm local {};
    const time_t seconds = time.tv_sec;
    if (!localtime_r(&seconds, &local))
        return unavailableText();
    return QString::asprintf("%02d/%02d/%04d %02d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                             local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

QString createdText(const FileProperties& properties) {
    return properties.hasBirthTime ? timeText(properties.created) : unavailableText();
}

QString unavailableText() {
    return QCoreApplication::translate("FileProperties", "Unavailable");
}

bool applyReadOnly(const QString& curDir, const FileProperties& properties, bool readOnly) {
    if (!properties.found || readOnly == properties.readOnly())
        return true;
    const mode_t mode = readOnly ? properties.mode & ~mode_t(0222) : properties.mode | S_IWUSR;
    return chmod(nativePath(fullPath(curDir, properties.name)).constData(), mode) == 0;
}

} // namespace zapfer
