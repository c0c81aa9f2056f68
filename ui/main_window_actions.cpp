// The main window's commands as QActions, each named by its command number,
// and the input that reaches them: the action key, drops, the buttons.

#include "main_window.h"

#include "about_dialog.h"
#include "browser_menus.h"
#include "browser_pane.h"
#include "context_menus.h"
#include "control_ids.h"
#include "engine.h"
#include "file_commands.h"
#include "help_pages.h"
#include "history_dialog.h"
#include "history_path.h"
#include "send_list_controller.h"
#include "settings_command.h"
#include "settings_store.h"
#include "string_table.h"
#include "transfer_controller.h"
#include "user_feedback.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

#include <functional>
#include <utility>
#include <vector>

namespace zapfer {

namespace {

void openHelp(QWidget* owner) {
    const QString index = helpIndexPath(QCoreApplication::applicationDirPath());
    if (QFileInfo::exists(index)) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(index));
        return;
    }
    showMessage(owner, QMessageBox::Critical, loadString(str::Error),
                loadString(str::HelpMissing).arg(index));
}

} // namespace

void MainWindow::createActions() {
    BrowserPane* browser = m_browser;
    BrowserMenus* menus = m_browser->menus();
    FileCommands* files = m_fileCommands.get();
    const std::vector<std::pair<int, std::function<void()>>> commands = {
        {id::About, [this] { AboutDialog(this).exec(); }},
        {id::Settings, [this] { m_settingsCommand->show(); }},
        {id::Exit, [this] { close(); }},
        // No control sends Abort: an entry point for stopping a transfer.
        {id::Abort,
         [this] {
             if (Engine* e = engine())
                 e->cancel();
         }},
        {id::Send, [this] { m_transfers->send(); }},
        {id::Receive, [this] { m_transfers->receive(); }},
        {id::PathButton, [menus] { menus->runPathPopup(); }},
        {id::SortButton, [menus] { menus->runSortPopup(); }},
        {id::AddToSendList,
         [this, browser] {
             m_sendList->addRows(browser->selectedRows(), *browser->model(), m_settings.curDir);
         }},
        {id::RemoveFromSendList, [this] { m_sendList->removeSelected(); }},
        {id::Delete, [files] { files->deleteSelected(); }},
        {id::Properties, [files] { files->showProperties(); }},
        {id::Move, [files] { files->moveSelected(); }},
        {id::CopyTo, [files] { files->copySelected(); }},
        {id::NewFolder, [files] { files->newFolder(); }},
        {id::Rename, [browser] { browser->startRename(); }},
        {id::Open, [browser] { browser->openSelected(); }},
        {id::Run, [browser] { browser->runSelected(); }},
        {id::SelectAll, [browser] { browser->selectAllFiles(); }},
        {id::DeselectAll, [browser] { browser->deselectAll(); }},
        {id::Help, [this] { openHelp(this); }},
        {id::History, [this] { showHistory(); }},
    };
    for (const auto& [commandId, run] : commands) {
        auto* action = new QAction(this);
        action->setObjectName(QString::number(commandId));
        connect(action, &QAction::triggered, this, run);
        addAction(action);
    }
    // The action key of handheld keyboards (F23 on a desktop one) adds the
    // FileList's selection.
    findChild<QAction*>(QString::number(id::AddToSendList), Qt::FindDirectChildrenOnly)
        ->setShortcut(QKeySequence(Qt::Key_F23));
    findChild<QAction*>(QString::number(id::History), Qt::FindDirectChildrenOnly)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
}

void MainWindow::showHistory() {
    if (!m_history) {
        m_history = new HistoryDialog(
            QString::fromStdString(history::defaultHistoryPath()), m_settings.destDir,
            [this](const QStringList& paths) { return m_sendList->addPaths(paths); }, this);
        m_history->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_history->reload();
    }
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

void MainWindow::showSendListMenu(const QPoint& pos) {
    QTreeView* view = m_sendList->view();
    m_browser->menus()->contextMenus()->sendList()->popup(view->viewport()->mapToGlobal(pos));
}

void MainWindow::trigger(int commandId) {
    if (auto* action = findChild<QAction*>(QString::number(commandId), Qt::FindDirectChildrenOnly))
        action->trigger();
}

// The action key arriving as a plain key press (the window not active, so
// no shortcut matched): the lists pass keys they do not use on to here.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F23) {
        trigger(id::AddToSendList);
        return;
    }
    QWidget::keyPressEvent(event);
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
    m_sendList->addPaths(paths);
    event->acceptProposedAction();
}

} // namespace zapfer
