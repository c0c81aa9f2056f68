#include "wait_cursor.h"

#include <QApplication>
#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

namespace zapfer {

WaitCursor::WaitCursor(bool show) : m_shown(show) {
    if (m_shown)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor() {
    if (m_shown)
        QApplication::restoreOverrideCursor();
}

bool listingReadsFolder(const QString& path) {
    if (path.isEmpty())
        return true;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    // Reading a folder's entries takes read and search permission on it.
    return stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(native.constData(), R_OK | X_OK) == 0;
}

} // namespace zapfer
