#include "send_list_model.h"

#include "protocol.h"
#include "sendable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace zapfer {

SendListModel::SendListModel(QObject* parent) : QAbstractTableModel(parent) {}

bool SendListModel::holdsName(const QString& name) const {
    const std::string encoded = QFile::encodeName(name).toStdString();
    return std::any_of(m_entries.begin(), m_entries.end(), [&encoded](const SendEntry& entry) {
        return sameSendName(QFile::encodeName(entry.name).toStdString(), encoded);
    });
}

SendListModel::AddResult SendListModel::addFile(const QString& path) {
    const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QFile file(info.filePath());
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return AddResult::NotReadable;
    if (holdsName(info.fileName()))
        return AddResult::Duplicate;
    const int64_t size = file.size();
    // The engine and zapfer-cli refuse by the same rule.
    switch (checkSendable(QFile::encodeName(info.fileName()).toStdString(), size)) {
    case SendRefusal::NameTooLong:
        return AddResult::NameTooLong;
    case SendRefusal::TooLarge:
        return AddResult::TooLarge;
    case SendRefusal::NameUnsafe:
        return AddResult::NameUnsafe;
    default:
        break;
    }
    if (fileCount() >= kMaxFiles)
        return AddResult::Full;
    beginInsertRows({}, 0, 0);
    m_entries.insert(m_entries.begin(), {info.filePath(), info.fileName(), size});
    m_totalBytes += size;
    endInsertRows();
    Q_EMIT contentsChanged();
    return AddResult::Added;
}

int SendListModel::removePaths(const QStringList& paths) {
    int removed = 0;
    for (int row = fileCount() - 1; row >= 0; --row) {
        if (!paths.contains(m_entries[size_t(row)].path))
            continue;
        beginRemoveRows({}, row, row);
        m_totalBytes -= m_entries[size_t(row)].size;
        m_entries.erase(m_entries.begin() + row);
        endRemoveRows();
        ++removed;
    }
    if (removed > 0)
        Q_EMIT contentsChanged();
    return removed;
}

QStringList SendListModel::paths() const {
    QStringList result;
    for (const SendEntry& entry : m_entries)
        result.append(entry.path);
    return result;
}

int SendListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : fileCount();
}

int SendListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SendListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= fileCount())
        return {};
    const SendEntry& e = entry(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case NameColumn:
            return e.name;
        case SizeColumn:
            return sizeCellText(false, e.size);
        case PathColumn:
            return e.path;
        default:
            return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == NameColumn)
        return m_icons.fileIcon(e.name);
    return {};
}

QVariant SendListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QCoreApplication::translate("SendList", "Name");
    case SizeColumn:
        return QCoreApplication::translate("SendList", "Size");
    case PathColumn:
        return QCoreApplication::translate("SendList", "Pathname");
    default:
        return {};
    }
}

} // namespace zapfer
