#pragma once

#include <QTreeWidget>

#include <cstdint>

namespace zapfer {

// The queue of files for the next send: columns "Name", "Size" and the
// practically hidden "Pathname"; newest first; at most 100 files and never
// two with the same name (compared ignoring case).
class SendList : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kMaxFiles = 100;
    enum Column { NameColumn, SizeColumn, PathColumn };

    explicit SendList(QWidget* parent = nullptr);

    enum class AddResult {
        Added,
        NotReadable, // not a regular file, or it cannot be opened for reading
        Duplicate,   // a file of that name (ignoring case) is already queued
        NameTooLong, // the name takes more than 125 bytes: it cannot be sent
        TooLarge,    // 2 GiB or more: the transfer's size field cannot hold it
        Full,        // 100 files are queued
    };
    // Adds the regular file at `path` (made absolute) at the top, with the
    // icon `icon` (the file's own kind when null).
    AddResult addFile(const QString& path, const QIcon& icon = {});
    // Removes the selected rows; false when none was selected.
    bool removeSelected();

    int fileCount() const { return topLevelItemCount(); }
    // SendListBytes: the sum of the sizes the files had when added.
    int64_t totalBytes() const { return m_totalBytes; }
    QStringList paths() const;

Q_SIGNALS:
    void contentsChanged();

private:
    bool holdsName(const QString& name) const;

    int64_t m_totalBytes = 0;
};

} // namespace zapfer
