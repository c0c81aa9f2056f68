#include "file_type_icons.h"

#include "file_record.h"
#include "format_size.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace zapfer {

namespace {

// Themes with file type icons, in the order they are preferred.
constexpr const char* kThemesWithTypes[] = {"Adwaita", "breeze"};

QIcon themeIcon(const QString& name, const QIcon& fallback) {
    return name.isEmpty() ? fallback : QIcon::fromTheme(name, fallback);
}

} // namespace

QString ensureFileTypeIconTheme() {
    static const QString chosen = [] {
        const QString current = QIcon::themeName();
        if (!current.isEmpty() && current != QLatin1String("hicolor"))
            return current;
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString& dir :
             QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                       QStandardPaths::LocateDirectory)) {
            if (!paths.contains(dir))
                paths.append(dir);
        }
        QIcon::setThemeSearchPaths(paths);
        for (const char* theme : kThemesWithTypes) {
            const QString name = QString::fromLatin1(theme);
            for (const QString& dir : paths) {
                if (QFileInfo::exists(dir + QLatin1Char('/') + name +
                                      QStringLiteral("/index.theme"))) {
                    QIcon::setThemeName(name);
                    return name;
                }
            }
        }
        return current;
    }();
    return chosen;
}

FileTypeIcons::FileTypeIcons() {
    ensureFileTypeIconTheme();
    m_file = m_generic.icon(QAbstractFileIconProvider::File);
    m_folder =
        themeIcon(QStringLiteral("folder"), m_generic.icon(QAbstractFileIconProvider::Folder));
    m_volume = themeIcon(QStringLiteral("drive-harddisk"),
                         m_generic.icon(QAbstractFileIconProvider::Drive));
}

QIcon FileTypeIcons::fileIcon(const QString& fileName) {
    // By extension, the name alone: the file is neither opened nor examined.
    const QMimeType type = m_mimeTypes.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    const auto cached = m_byMimeType.constFind(type.name());
    if (cached != m_byMimeType.constEnd())
        return *cached;
    QIcon icon = themeIcon(type.iconName(), themeIcon(type.genericIconName(), m_file));
    m_byMimeType.insert(type.name(), icon);
    return icon;
}

QIcon FileTypeIcons::iconFor(const FileRecord& record) {
    if (record.volume)
        return m_volume;
    return record.folder ? m_folder : fileIcon(record.name);
}

QString sizeCellText(bool folder, int64_t size) {
    return folder ? QString() : FormatSize(size);
}

QString sizeCellText(const FileRecord& record) {
    return sizeCellText(record.folder, record.size);
}

} // namespace zapfer
