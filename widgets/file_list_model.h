#pragma once

#include "file_record.h"
#include "file_type_icons.h"

#include <QAbstractTableModel>

#include <functional>
#include <vector>

namespace zapfer {

// The rows of the FileList: one FileRecord each, in sorted order. Columns
// "Name", "Size", "Date"; folder and volume rows leave Size and Date empty.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, SizeColumn, DateColumn, ColumnCount };

    explicit FileListModel(QObject* parent = nullptr);

    void setRecords(std::vector<FileRecord> records);
    // Re-sorts the rows in place; the folder is not read again.
    void sortBy(uint32_t sort);
    const FileRecord& record(int row) const { return m_records[size_t(row)]; }

    // Renaming by editing a name: the handler renames the file and returns
    // true, or reports why it could not and returns false (the old name
    // stays). Without a handler, or on a volume row, names are not editable.
    using RenameHandler = std::function<bool(const FileRecord& record, const QString& newName)>;
    void setRenameHandler(RenameHandler handler) { m_rename = std::move(handler); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    std::vector<FileRecord> m_records;
    mutable FileTypeIcons m_icons;
    RenameHandler m_rename;
};

// "MM/DD/YY" of a last-write time in UTC.
QString formatFileDate(int64_t secondsSinceEpoch);

} // namespace zapfer
