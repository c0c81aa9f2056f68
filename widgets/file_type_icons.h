#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>

#include <cstdint>

namespace zapfer {

struct FileRecord;

// What the FileList, the SendList and the picker show beside a name: the
// icon of the file's type, as the desktop's file manager draws it, and the
// size text. Types are known by the name alone, never by reading the file,
// and each type's icon is looked up once per instance, so a large folder
// lists as fast as a small one. Where no icon theme is installed, files,
// folders and volumes show the generic icons of their kind. GUI thread only.
class FileTypeIcons {
public:
    FileTypeIcons();

    QIcon fileIcon(const QString& fileName);
    QIcon folderIcon() const { return m_folder; }
    QIcon volumeIcon() const { return m_volume; }
    QIcon iconFor(const FileRecord& record);

private:
    QMimeDatabase m_mimeTypes;
    QFileIconProvider m_generic;
    QHash<QString, QIcon> m_byMimeType;
    QIcon m_file;
    QIcon m_folder;
    QIcon m_volume;
};

// The "Size" cell of a row: FormatSize for a file, empty for a folder or a
// volume.
QString sizeCellText(bool folder, int64_t size);
QString sizeCellText(const FileRecord& record);

// Without a desktop session (Xvfb, the offscreen platform) Qt knows no icon
// theme, or only "hicolor", which has no file type icons. Then an installed
// theme that has them is taken; a desktop's own choice is never replaced.
// Returns the theme in use afterwards.
QString ensureFileTypeIconTheme();

} // namespace zapfer
