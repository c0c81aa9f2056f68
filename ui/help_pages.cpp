#include "help_pages.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace zapfer {

QString helpIndexPath(const QString& programDir) {
    const QString beside =
        QDir::cleanPath(programDir + QStringLiteral("/../share/zapfer/help/index.html"));
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                     QStringLiteral("zapfer/help/index.html"));
    return installed.isEmpty() ? beside : installed;
}

} // namespace zapfer
