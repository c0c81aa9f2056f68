// The main window's commands, the SendList additions and the engine's events.

#include "main_window.h"

#include "control_ids.h"
#include "directory_listing.h"
#include "file_list_model.h"
#include "settings_store.h"
#include "string_table.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QTreeView>

namespace zapfer {

void MainWindow::command(int commandId) {
    switch (commandId) {
    case id::AddToSendList:
        addSelectedToSendList();
        break;
    case id::RemoveFromSendList:
        if (!m_sendList->removeSelected())
            QApplication::beep();
        break;
    case id::Exit:
        close();
        break;
    case id::Receive:
        onReceive();
        break;
    default:
        // Send, Settings, About, Help and the two popups arrive with their
        // own dialogs.
        QApplication::beep();
        break;
    }
}

void MainWindow::addSelectedToSendList() {
    const QModelIndexList rows = m_fileList->selectionModel()->selectedRows();
    if (m_sendList->fileCount() + rows.size() > SendList::kMaxFiles) {
        QMessageBox::critical(this, loadString(str::Error), loadString(str::MaxFiles));
        return;
    }
    for (const QModelIndex& row : rows) {
        const FileRecord& record = m_model->record(row.row());
        const auto result = record.folder
                                ? SendList::AddResult::NotReadable
                                : m_sendList->addFile(joinPath(m_settings.curDir, record.name));
        if (result == SendList::AddResult::NotReadable)
            QApplication::beep();
    }
}

// A click on a folder or volume row enters it; a click on a file does nothing.
void MainWindow::openRow(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const FileRecord& record = m_model->record(index.row());
    if (!record.folder)
        return;
    m_settings.curDir = record.volume ? record.name : joinPath(m_settings.curDir, record.name);
    listCurDir();
}

// Unreadable files, folders and names already queued are skipped silently;
// files past the 100th are refused with the limit's message.
int MainWindow::addPaths(const QStringList& paths) {
    int added = 0;
    bool full = false;
    for (const QString& path : paths) {
        const SendList::AddResult result = m_sendList->addFile(path);
        added += result == SendList::AddResult::Added;
        full = full || result == SendList::AddResult::Full;
    }
    UpdateStatusLine();
    if (full)
        showError(loadString(str::MaxFiles), loadString(str::Error));
    return added;
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

// --- engine events: queued onto the GUI thread ---

void MainWindow::incomingTransfer() {
    QMetaObject::invokeMethod(
        this, [this] { command(id::Receive); }, Qt::QueuedConnection);
}

void MainWindow::closeConnectingDialog() {
    // The Connecting dialog arrives with the send command.
}

void MainWindow::closeStatusDialog() {
    QMetaObject::invokeMethod(
        this, [this] { onStatusDialogClosed(); }, Qt::QueuedConnection);
}

void MainWindow::fileStarted(const std::string& namePart) {
    QMetaObject::invokeMethod(
        this, [this, name = QString::fromStdString(namePart)] { m_receivingName = name; },
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

// A peer's file table was accepted: the engine receives in the background
// until closeStatusDialog.
void MainWindow::onReceive() {
    m_receiving = true;
    m_receivingName.clear();
}

void MainWindow::onStatusDialogClosed() {
    if (!m_receiving || !m_engine)
        return;
    m_receiving = false;
    const ReceiveOutcome outcome = m_engine->finishReceive();
    ++m_receivesFinished;
    if (QDir(m_settings.curDir) == QDir(m_settings.destDir) && !m_settings.curDir.isEmpty())
        listCurDir();
    Q_EMIT receiveFinished(outcome.filesDone, outcome.fileCount);
}

// Not modal: the engine keeps serving peers while the message is up.
void MainWindow::showError(const QString& text, const QString& caption) {
    auto* box = new QMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace zapfer
