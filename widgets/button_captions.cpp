#include "button_captions.h"

#include <QCoreApplication>

#include <array>

namespace zapfer {

QString pathButtonCaption(const QString& curDir, bool popupOpen, const QStringList& volumes) {
    if (curDir.isEmpty())
        return QCoreApplication::translate("PathButton", "My Computer");
    if (popupOpen)
        return QCoreApplication::translate("PathButton", "Show");
    if (volumes.contains(curDir) || curDir == QStringLiteral("/"))
        return curDir;
    QString path = curDir;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString sortButtonCaption(uint32_t sort, bool popupOpen) {
    if (popupOpen)
        return QCoreApplication::translate("SortButton", "Sort By");
    // Looked up at each call: the translators are installed after start-up.
    static constexpr std::array<const char*, 4> names = {
        QT_TRANSLATE_NOOP("SortButton", "Name"), QT_TRANSLATE_NOOP("SortButton", "Date"),
        QT_TRANSLATE_NOOP("SortButton", "Size"), QT_TRANSLATE_NOOP("SortButton", "Type")};
    return QCoreApplication::translate("SortButton", names[sort < names.size() ? sort : 0]);
}

} // namespace zapfer
