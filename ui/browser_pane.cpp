#include "browser_pane.h"

#include "browser_menus.h"
#include "control_ids.h"
#include "directory_listing.h"
#include "file_list_model.h"
#include "rename_in_folder.h"
#include "run_dialog.h"
#include "settings_store.h"
#include "string_table.h"
#include "user_feedback.h"
#include "wait_cursor.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

namespace zapfer {

BrowserPane::BrowserPane(QWidget* owner, Settings& settings, QStringList volumes)
    : QObject(owner), m_owner(owner), m_settings(settings), m_volumes(std::move(volumes)),
      m_model(new FileListModel(this)), m_fileList(new QTreeView(owner)), m_menus(nullptr) {
    m_fileList->setObjectName(QString::number(id::FileList));
    m_fileList->setModel(m_model);
    m_fileList->setRootIsDecorated(false);
    m_fileList->setUniformRowHeights(true);
    m_fileList->setAllColumnsShowFocus(true);
    m_fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_fileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_fileList->header()->setStretchLastSection(false);
    m_fileList->header()->setMinimumSectionSize(0);
    m_fileList->header()->setSectionsClickable(false);
    // F2, or a click on the name of a row that was already selected.
    m_fileList->setEditTriggers(QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::SelectedClicked);
    m_fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_model->setRenameHandler([this](const FileRecord& record, const QString& newName) {
        return renameRow(record, newName);
    });
    m_menus = new BrowserMenus(*this, m_settings);
    connect(m_fileList, &QTreeView::clicked, this, &BrowserPane::onClicked);
    // Whatever changed the selection (a click, a key, Select All from a
    // menu), the keys that follow are for the FileList.
    connect(m_fileList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { m_fileList->setFocus(); });
    connect(m_fileList, &QTreeView::doubleClicked, this,
            [this] { Q_EMIT command(id::AddToSendList); });
    connect(m_fileList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_menus->showContextMenu(m_fileList->viewport()->mapToGlobal(pos));
    });
    connect(m_menus, &BrowserMenus::command, this, &BrowserPane::command);
}

void BrowserPane::listCurDir() {
    const WaitCursor wait(listingReadsFolder(m_settings.curDir));
    m_model->setRecords(ListDirectory(m_settings.curDir, false, m_settings.sort, m_volumes));
    m_menus->updateCaptions();
}

void BrowserPane::setCurDir(const QString& path) {
    m_settings.curDir = path;
    listCurDir();
}

void BrowserPane::setSort(uint32_t sort) {
    m_settings.sort = sort;
    m_model->sortBy(sort);
    m_menus->updateCaptions();
}

QModelIndexList BrowserPane::selectedRows() const {
    QModelIndexList rows = m_fileList->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString BrowserPane::firstSelectedPath() const {
    const QModelIndexList rows = selectedRows();
    if (rows.isEmpty() || m_settings.curDir.isEmpty())
        return {};
    return joinPath(m_settings.curDir, m_model->record(rows.first().row()).name);
}

// An Alt-click opens the context menu; any other click enters a folder or
// volume, except the click that closed a menu.
void BrowserPane::onClicked(const QModelIndex& index) {
    if (QApplication::keyboardModifiers() & Qt::AltModifier) {
        m_menus->showContextMenu(QCursor::pos());
        return;
    }
    const bool busy = m_menus->menuBusy();
    m_menus->setMenuBusy(false);
    if (busy || !index.isValid())
        return;
    const FileRecord& record = m_model->record(index.row());
    if (record.folder)
        setCurDir(record.volume ? record.name : joinPath(m_settings.curDir, record.name));
}

// Files only: folder and volume rows keep whatever state they had.
void BrowserPane::selectAllFiles() {
    QItemSelection files;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (!m_model->record(row).folder)
            files.select(m_model->index(row, 0),
                         m_model->index(row, FileListModel::ColumnCount - 1));
    }
    m_fileList->selectionModel()->select(files, QItemSelectionModel::Select);
}

void BrowserPane::deselectAll() {
    m_fileList->clearSelection();
}

void BrowserPane::startRename() {
    const QModelIndexList rows = selectedRows();
    if (rows.isEmpty())
        return;
    m_fileList->setCurrentIndex(rows.first());
    m_fileList->edit(rows.first());
}

bool BrowserPane::renameRow(const FileRecord& record, const QString& newName) {
    if (m_settings.curDir.isEmpty())
        return false;
    const RenameResult result = renameInFolder(m_settings.curDir, record.name, newName);
    switch (result.status) {
    case RenameResult::Status::Renamed:
        return true;
    case RenameResult::Status::Exists:
        showMessage(m_owner, QMessageBox::Critical, loadString(str::RenameTitle),
                    loadString(str::RenameExists).arg(record.name));
        break;
    case RenameResult::Status::BadName:
        showMessage(m_owner, QMessageBox::Critical, loadString(str::RenameTitle),
                    loadString(str::RenameBadName).arg(record.name));
        break;
    case RenameResult::Status::Failed:
        showMessage(m_owner, QMessageBox::Critical, loadString(str::RenameTitle),
                    loadString(str::RenameSystemError).arg(record.name, result.reason));
        break;
    }
    return false;
}

void BrowserPane::openSelected() {
    const QString path = firstSelectedPath();
    if (!path.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void BrowserPane::runSelected() {
    const QString path = firstSelectedPath();
    if (path.isEmpty())
        return;
    RunDialog dialog(QFileInfo(path).fileName(), m_owner);
    if (dialog.exec() == QDialog::Accepted)
        runProgram(path, dialog.arguments());
}

} // namespace zapfer
