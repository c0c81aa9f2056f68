#include "send_list.h"

#include "control_ids.h"
#include "format_size.h"
#include "protocol.h"

#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>

namespace zapfer {

namespace {
constexpr int kSizeRole = Qt::UserRole;
}

SendList::SendList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QString::number(id::SendList));
    setColumnCount(3);
    setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Pathname")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(0);
    setColumnWidth(PathColumn, 1);
}

bool SendList::holdsName(const QString& name) const {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->text(NameColumn).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

SendList::AddResult SendList::addFile(const QString& path, const QIcon& icon) {
    const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QFile file(info.filePath());
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return AddResult::NotReadable;
    if (holdsName(info.fileName()))
        return AddResult::Duplicate;
    if (size_t(QFile::encodeName(info.fileName()).size()) > kMaxNameUnits)
        return AddResult::NameTooLong;
    const int64_t size = file.size();
    if (size > kMaxFileSize)
        return AddResult::TooLarge;
    if (fileCount() >= kMaxFiles)
        return AddResult::Full;
    auto* item = new QTreeWidgetItem;
    item->setText(NameColumn, info.fileName());
    item->setText(SizeColumn, FormatSize(size));
    item->setText(PathColumn, info.filePath());
    item->setData(NameColumn, kSizeRole, qlonglong(size));
    item->setIcon(NameColumn,
                  icon.isNull() ? QFileIconProvider().icon(QAbstractFileIconProvider::File) : icon);
    insertTopLevelItem(0, item);
    m_totalBytes += size;
    Q_EMIT contentsChanged();
    return AddResult::Added;
}

bool SendList::removeSelected() {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return false;
    for (QTreeWidgetItem* item : selected) {
        m_totalBytes -= item->data(NameColumn, kSizeRole).toLongLong();
        delete item;
    }
    Q_EMIT contentsChanged();
    return true;
}

QStringList SendList::paths() const {
    QStringList result;
    for (int i = 0; i < topLevelItemCount(); ++i)
        result.append(topLevelItem(i)->text(PathColumn));
    return result;
}

} // namespace zapfer
