#pragma once

#include "file_type_icons.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace zapfer {

// One queued file: its absolute path and its size when it was added.
struct SendEntry {
    QString path;
    QString name;
    int64_t size = 0;
};

// The queue of files for the next send: columns "Name", "Size" and the
// practically hidden "Pathname"; newest first; at most 100 files and never
// two with the same name (compared ignoring case). GUI thread only.
class SendListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxFiles = 100;
    enum Column { NameColumn, SizeColumn, PathColumn, ColumnCount };

    explicit SendListModel(QObject* parent = nullptr);

    enum class AddResult {
        Added,
        NotReadable, // not a regular file, or it cannot be opened for reading
        Duplicate,   // a file of that name (ignoring case) is already queued
        NameTooLong, // the name takes more than 125 bytes: it cannot be sent
        NameUnsafe,  // a control character or a backslash: it would not arrive as itself
        TooLarge,    // 2 GiB or more: the transfer's size field cannot hold it
        Full,        // 100 files are queued
    };
    // Adds the regular file at `path` (made absolute) at the top.
    AddResult addFile(const QString& path);
    // Removes the entries whose path is one of `paths`; returns how many went.
    int removePaths(const QStringList& paths);

    int fileCount() const { return int(m_entries.size()); }
    // SendListBytes: the sum of the sizes the files had when added.
    int64_t totalBytes() const { return m_totalBytes; }
    const SendEntry& entry(int row) const { return m_entries[size_t(row)]; }
    QStringList paths() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

Q_SIGNALS:
    void contentsChanged();

private:
    bool holdsName(const QString& name) const;

    std::vector<SendEntry> m_entries;
    int64_t m_totalBytes = 0;
    mutable FileTypeIcons m_icons;
};

} // namespace zapfer
