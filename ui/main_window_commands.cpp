// The main window's command table, the FileList's clicks, renaming, Open,
// Run, Help and About, and the engine's events.

#include "main_window.h"

#include "about_dialog.h"
#include "control_ids.h"
#include "directory_listing.h"
#include "file_list_model.h"
#include "help_pages.h"
#include "rename_in_folder.h"
#include "run_dialog.h"
#include "settings_store.h"
#include "string_table.h"
#include "transfer_commands.h"
#include "user_feedback.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTreeView>
#include <QUrl>

namespace zapfer {

void MainWindow::command(int commandId) {
    switch (commandId) {
    case id::About:
        showAbout();
        break;
    case id::Settings:
        showSettings();
        break;
    case id::Exit:
        close();
        break;
    case id::Abort:
        if (m_engine)
            m_engine->cancel(); // no control sends it: an entry point for stopping a transfer
        break;
    case id::Send:
        sendFiles();
        break;
    case id::Receive:
        onReceive();
        break;
    case id::PathButton:
        runPathPopup();
        break;
    case id::RemoveFromSendList:
        removeSelectedFromSendList();
        break;
    case id::Delete:
        m_fileCommands.deleteSelected();
        break;
    case id::AddToSendList:
        addSelectedToSendList();
        break;
    case id::Properties:
        m_fileCommands.showProperties();
        break;
    case id::Rename:
        startRename();
        break;
    case id::Open:
        openSelected();
        break;
    case id::Move:
        m_fileCommands.moveSelected();
        break;
    case id::Help:
        openHelp();
        break;
    case id::CopyTo:
        m_fileCommands.copySelected();
        break;
    case id::NewFolder:
        m_fileCommands.newFolder();
        break;
    case id::SelectAll:
        selectAllFiles();
        break;
    case id::DeselectAll:
        m_fileList->clearSelection();
        break;
    case id::Run:
        runSelected();
        break;
    case id::SortButton:
        runSortPopup();
        break;
    default:
        break;
    }
}

// The action key of handheld keyboards (F23 on a desktop one) adds the
// selection; the lists pass keys they do not use on to the window.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F23) {
        command(id::AddToSendList);
        return;
    }
    QWidget::keyPressEvent(event);
}

// An Alt-click opens the context menu; any other click enters a folder or
// volume, except the click that closed a menu.
void MainWindow::onFileListClicked(const QModelIndex& index) {
    if (QApplication::keyboardModifiers() & Qt::AltModifier) {
        showContextMenu(QCursor::pos());
        return;
    }
    if (!m_menuBusy)
        openRow(index);
    m_menuBusy = false;
}

void MainWindow::onSendListClicked() {
    m_menuBusy = false;
}

void MainWindow::openRow(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const FileRecord& record = m_model->record(index.row());
    if (!record.folder)
        return;
    m_settings.curDir = record.volume ? record.name : joinPath(m_settings.curDir, record.name);
    listCurDir();
}

// Files only: folder and volume rows keep whatever state they had.
void MainWindow::selectAllFiles() {
    QItemSelection files;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (!m_model->record(row).folder)
            files.select(m_model->index(row, 0),
                         m_model->index(row, FileListModel::ColumnCount - 1));
    }
    m_fileList->selectionModel()->select(files, QItemSelectionModel::Select);
}

void MainWindow::startRename() {
    const QModelIndexList rows = m_fileList->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const QModelIndex first = *std::min_element(rows.begin(), rows.end());
    m_fileList->setCurrentIndex(first);
    m_fileList->edit(first);
}

bool MainWindow::renameRow(const FileRecord& record, const QString& newName) {
    if (m_settings.curDir.isEmpty())
        return false;
    const RenameResult result = renameInFolder(m_settings.curDir, record.name, newName);
    switch (result.status) {
    case RenameResult::Status::Renamed:
        return true;
    case RenameResult::Status::Exists:
        showMessage(this, QMessageBox::Critical, loadString(str::RenameTitle),
                    loadString(str::RenameExists).arg(record.name));
        break;
    case RenameResult::Status::BadName:
        showMessage(this, QMessageBox::Critical, loadString(str::RenameTitle),
                    loadString(str::RenameBadName).arg(record.name));
        break;
    case RenameResult::Status::Failed:
        showMessage(this, QMessageBox::Critical, loadString(str::RenameTitle),
                    loadString(str::RenameSystemError).arg(record.name, result.reason));
        break;
    }
    return false;
}

QString MainWindow::firstSelectedPath() const {
    const QModelIndexList rows = m_fileList->selectionModel()->selectedRows();
    if (rows.isEmpty() || m_settings.curDir.isEmpty())
        return {};
    const QModelIndex first = *std::min_element(rows.begin(), rows.end());
    return joinPath(m_settings.curDir, m_model->record(first.row()).name);
}

void MainWindow::openSelected() {
    const QString path = firstSelectedPath();
    if (!path.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void MainWindow::runSelected() {
    const QString path = firstSelectedPath();
    if (path.isEmpty())
        return;
    RunDialog dialog(QFileInfo(path).fileName(), this);
    if (dialog.exec() == QDialog::Accepted)
        runProgram(path, dialog.arguments());
}

void MainWindow::openHelp() {
    const QString index = helpIndexPath(QCoreApplication::applicationDirPath());
    if (QFileInfo::exists(index)) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(index));
        return;
    }
    showMessage(this, QMessageBox::Critical, loadString(str::Error),
                loadString(str::HelpMissing).arg(index));
}

void MainWindow::showAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::sendFiles() {
    m_transfers->send();
}

// --- engine events: queued onto the GUI thread ---

void MainWindow::incomingTransfer() {
    QMetaObject::invokeMethod(
        this, [this] { command(id::Receive); }, Qt::QueuedConnection);
}

void MainWindow::closeConnectingDialog() {
    QMetaObject::invokeMethod(
        this, [this] { m_transfers->onConnectingClosedByEngine(); }, Qt::QueuedConnection);
}

void MainWindow::closeStatusDialog() {
    QMetaObject::invokeMethod(
        this, [this] { m_transfers->onStatusClosedByEngine(); }, Qt::QueuedConnection);
}

void MainWindow::fileStarted(const std::string& namePart) {
    QMetaObject::invokeMethod(
        this,
        [this, name = QFile::decodeName(QByteArray::fromStdString(namePart))] {
            m_transfers->onFileStarted(name);
        },
        Qt::QueuedConnection);
}

void MainWindow::playSound(Sound sound) {
    QMetaObject::invokeMethod(
        this, [this, sound] { m_sound.play(sound); }, Qt::QueuedConnection);
}

void MainWindow::linkMessage(const std::string& text, const std::string& caption) {
    QMetaObject::invokeMethod(
        this,
        [this, text = QString::fromStdString(text), caption = QString::fromStdString(caption)] {
            showError(text, caption);
        },
        Qt::QueuedConnection);
}

// A peer's file table was accepted: the status dialog shows the receive.
void MainWindow::onReceive() {
    m_transfers->receive();
}

void MainWindow::showError(const QString& text, const QString& caption) {
    showMessage(this, QMessageBox::Critical, caption, text);
}

} // namespace zapfer
