#include "file_paths.h"

#include <QFile>

namespace zapfer {

bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

} // namespace zapfer
