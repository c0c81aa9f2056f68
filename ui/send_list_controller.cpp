#include "send_list_controller.h"

#include "control_ids.h"
#include "directory_listing.h"
#include "file_list_model.h"
#include "path_list.h"
#include "string_table.h"
#include "user_feedback.h"

#include <QHeaderView>
#include <QTreeView>

#include <algorithm>

namespace zapfer {

SendListController::SendListController(QWidget* owner)
    : QObject(owner), m_owner(owner), m_model(new SendListModel(this)),
      m_view(new QTreeView(owner)) {
    m_view->setObjectName(QString::number(id::SendList));
    m_view->setModel(m_model);
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true);
    m_view->setAllColumnsShowFocus(true);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->header()->setStretchLastSection(false);
    m_view->header()->setMinimumSectionSize(0);
    m_view->setColumnWidth(SendListModel::PathColumn, 1);
    connect(m_model, &SendListModel::contentsChanged, this, &SendListController::contentsChanged);
}

void SendListController::addRows(QModelIndexList rows, const FileListModel& files,
                                 const QString& curDir) {
    std::sort(rows.begin(), rows.end());
    if (m_model->fileCount() + rows.size() > SendListModel::kMaxFiles) {
        showMessage(m_owner, QMessageBox::Critical, loadString(str::Error),
                    loadString(str::MaxFiles));
        return;
    }
    QStringList tooLarge;
    QStringList tooLong;
    QStringList unsafe;
    for (const QModelIndex& row : rows) {
        const FileRecord& record = files.record(row.row());
        if (record.folder || curDir.isEmpty()) {
            beep();
            continue;
        }
        const QString path = joinPath(curDir, record.name);
        switch (m_model->addFile(path)) {
        case SendListModel::AddResult::NotReadable:
            beep();
            break;
        case SendListModel::AddResult::TooLarge:
            tooLarge.append(path);
            break;
        case SendListModel::AddResult::NameTooLong:
            tooLong.append(path);
            break;
        case SendListModel::AddResult::NameUnsafe:
            unsafe.append(path);
            break;
        default:
            break;
        }
    }
    reportRefusals(tooLarge, tooLong, unsafe, false);
}

void SendListController::removeSelected() {
    QStringList paths;
    for (const QModelIndex& row : m_view->selectionModel()->selectedRows())
        paths.append(m_model->entry(row.row()).path);
    if (m_model->removePaths(paths) == 0)
        beep();
}

int SendListController::addPaths(const QStringList& paths) {
    const int before = m_model->fileCount();
    QStringList tooLarge;
    QStringList tooLong;
    QStringList unsafe;
    bool full = false;
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        switch (m_model->addFile(path)) {
        case SendListModel::AddResult::TooLarge:
            tooLarge.append(path);
            break;
        case SendListModel::AddResult::NameTooLong:
            tooLong.append(path);
            break;
        case SendListModel::AddResult::NameUnsafe:
            unsafe.append(path);
            break;
        case SendListModel::AddResult::Full:
            full = true;
            break;
        default:
            break;
        }
    }
    reportRefusals(tooLarge, tooLong, unsafe, full);
    return m_model->fileCount() - before;
}

int SendListController::addPathList(const QStringList& list) {
    const int count = pathListCount(list);
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(PathListEntry(list, i));
    addPaths(paths);
    return count;
}

// Only the files that went through: a row further down was not sent, nor
// was a file that could not be read when its turn came. The user's
// selection goes, as it always did after a send.
void SendListController::removeSent(int count, const std::vector<bool>& sent) {
    count = std::min(count, m_model->fileCount());
    if (count <= 0)
        return;
    m_view->clearSelection();
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        if (size_t(i) < sent.size() && !sent[size_t(i)])
            continue;
        paths.append(m_model->entry(i).path);
    }
    m_model->removePaths(paths);
}

void SendListController::reportRefusals(const QStringList& tooLarge, const QStringList& tooLong,
                                        const QStringList& unsafe, bool full) {
    QStringList lines;
    for (const QString& path : tooLarge)
        lines.append(loadString(str::FileTooLarge).arg(path));
    for (const QString& path : tooLong)
        lines.append(loadString(str::NameTooLong).arg(path));
    for (const QString& path : unsafe)
        lines.append(loadString(str::NameUnsafe).arg(path));
    if (full)
        lines.append(loadString(str::MaxFiles));
    if (!lines.isEmpty())
        showMessage(m_owner, QMessageBox::Critical, loadString(str::Error),
                    lines.join(QLatin1Char('\n')));
}

} // namespace zapfer
