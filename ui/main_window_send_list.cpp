// The SendList commands of the main window: Add, Remove, drops, the command
// line and a second instance's hand-over.

#include "main_window.h"

#include "directory_listing.h"
#include "file_list_model.h"
#include "path_list.h"
#include "settings_store.h"
#include "string_table.h"
#include "user_feedback.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTreeView>

namespace zapfer {

// Every selected row counts against the limit, folders and names already
// queued included; nothing is added when they would not all fit. Rows that
// cannot be read (folders, volumes, unreadable files) beep, one beep each.
void MainWindow::addSelectedToSendList() {
    QModelIndexList rows = m_fileList->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    if (m_sendList->fileCount() + rows.size() > SendList::kMaxFiles) {
        showError(loadString(str::MaxFiles), loadString(str::Error));
        return;
    }
    QStringList tooLarge;
    QStringList tooLong;
    for (const QModelIndex& row : rows) {
        const FileRecord& record = m_model->record(row.row());
        if (record.folder || m_settings.curDir.isEmpty()) {
            beep();
            continue;
        }
        const QString path = joinPath(m_settings.curDir, record.name);
        switch (m_sendList->addFile(path, m_model->data(row, Qt::DecorationRole).value<QIcon>())) {
        case SendList::AddResult::NotReadable:
            beep();
            break;
        case SendList::AddResult::TooLarge:
            tooLarge.append(path);
            break;
        case SendList::AddResult::NameTooLong:
            tooLong.append(path);
            break;
        default:
            break;
        }
    }
    UpdateStatusLine();
    reportRefusals(tooLarge, tooLong, false);
}

void MainWindow::removeSelectedFromSendList() {
    if (!m_sendList->removeSelected())
        beep();
    UpdateStatusLine();
}

int MainWindow::addPaths(const QStringList& paths) {
    const int before = m_sendList->fileCount();
    QStringList tooLarge;
    QStringList tooLong;
    bool full = false;
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        switch (m_sendList->addFile(path)) {
        case SendList::AddResult::TooLarge:
            tooLarge.append(path);
            break;
        case SendList::AddResult::NameTooLong:
            tooLong.append(path);
            break;
        case SendList::AddResult::Full:
            full = true;
            break;
        default:
            break;
        }
    }
    UpdateStatusLine();
    reportRefusals(tooLarge, tooLong, full);
    return m_sendList->fileCount() - before;
}

int MainWindow::AddPathList(const QStringList& list) {
    const int count = pathListCount(list);
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(PathListEntry(list, i));
    addPaths(paths);
    return count;
}

void MainWindow::reportRefusals(const QStringList& tooLarge, const QStringList& tooLong,
                                bool full) {
    QStringList lines;
    for (const QString& path : tooLarge)
        lines.append(loadString(str::FileTooLarge).arg(path));
    for (const QString& path : tooLong)
        lines.append(loadString(str::NameTooLong).arg(path));
    if (full)
        lines.append(loadString(str::MaxFiles));
    if (!lines.isEmpty())
        showError(lines.join(QLatin1Char('\n')), loadString(str::Error));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    addPaths(paths);
    event->acceptProposedAction();
}

} // namespace zapfer
