#include "button_captions.h"

#include <array>

namespace zapfer {

QString pathButtonCaption(const QString& curDir, bool popupOpen, const QStringList& volumes) {
    if (curDir.isEmpty())
        return QStringLiteral("My Computer");
    if (popupOpen)
        return QStringLiteral("Show");
    if (volumes.contains(curDir) || curDir == QStringLiteral("/"))
        return curDir;
    QString path = curDir;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString sortButtonCaption(uint32_t sort, bool popupOpen) {
    if (popupOpen)
        return QStringLiteral("Sort By");
    static const std::array<QString, 4> names = {QStringLiteral("Name"), QStringLiteral("Date"),
                                                 QStringLiteral("Size"), QStringLiteral("Type")};
    return sort < names.size() ? names[sort] : names[0];
}

} // namespace zapfer
