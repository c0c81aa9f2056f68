#include "file_list_model.h"

#include "directory_listing.h"

#include <QCoreApplication>
#include <QDateTime>

namespace zapfer {

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void FileListModel::setRecords(std::vector<FileRecord> records) {
    beginResetModel();
    m_records = std::move(records);
    endResetModel();
}

void FileListModel::sortBy(uint32_t sort) {
    Q_EMIT layoutAboutToBeChanged();
    sortFileRecords(m_records, sort);
    Q_EMIT layoutChanged();
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_records.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= m_records.size())
        return {};
    const FileRecord& r = m_records[size_t(index.row())];
    if (role == Qt::EditRole && index.column() == NameColumn)
        return r.name;
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case NameColumn:
            return r.name;
        case SizeColumn:
            return sizeCellText(r);
        case DateColumn:
            return r.folder ? QString() : formatFileDate(r.mtime);
        default:
            return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == NameColumn)
        return m_icons.iconFor(r);
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QCoreApplication::translate("FileList", "Name");
    case SizeColumn:
        return QCoreApplication::translate("FileList", "Size");
    case DateColumn:
        return QCoreApplication::translate("FileList", "Date");
    default:
        return {};
    }
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == NameColumn && m_rename &&
        size_t(index.row()) < m_records.size() && !m_records[size_t(index.row())].volume)
        f |= Qt::ItemIsEditable;
    return f;
}

// The row keeps its place: the list is not sorted again until it is listed.
bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    FileRecord& r = m_records[size_t(index.row())];
    const QString newName = value.toString();
    if (newName.isEmpty() || newName == r.name || !m_rename(r, newName))
        return false;
    r = r.folder ? FileRecord::makeFolder(newName) : FileRecord::makeFile(newName, r.size, r.mtime);
    Q_EMIT dataChanged(index.siblingAtColumn(0), index.siblingAtColumn(ColumnCount - 1));
    return true;
}

QString formatFileDate(int64_t secondsSinceEpoch) {
    const QDate date = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC).date();
    return QStringLiteral("%1/%2/%3")
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(date.year() % 100, 2, 10, QLatin1Char('0'));
}

} // namespace zapfer
