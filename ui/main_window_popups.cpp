// The context menus, the path popup and the sort popup of the main window,
// and MenuBusy, which keeps the click that closes a menu from also opening
// the folder under it.

#include "main_window.h"

#include "context_menus.h"
#include "control_ids.h"
#include "file_list_model.h"
#include "path_popup.h"
#include "settings_store.h"
#include "window_buttons.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

#include <memory>

namespace zapfer {

namespace {

// Clears a flag once the mouse button that closed a menu comes up, after
// the click it ends has been delivered.
class ReleaseWatcher : public QObject {
public:
    ReleaseWatcher(QObject* parent, std::function<void()> done)
        : QObject(parent), m_done(std::move(done)) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && !m_fired) {
            m_fired = true;
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, parent(), [done = m_done] { done(); });
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> m_done;
    bool m_fired = false;
};

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() &&
           (info.permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
}

} // namespace

void MainWindow::showContextMenu(const QPoint& globalPos) {
    m_menuBusy = true;
    const QModelIndexList rows = m_fileList->selectionModel()->selectedRows();
    if (rows.size() > 1) {
        m_contextMenus->multiple()->popup(
            globalPos - QPoint(m_contextMenus->multiple()->sizeHint().width() / 2, 0));
        return;
    }
    const QString path = firstSelectedPath();
    m_contextMenus->prepareSingle(!path.isEmpty(), isExecutableFile(path));
    m_contextMenus->single()->popup(globalPos -
                                    QPoint(m_contextMenus->single()->sizeHint().width() / 2, 0));
}

// A menu closed by a choice or a key leaves nothing behind. One closed by a
// mouse press elsewhere keeps MenuBusy until that press's click is done, so
// that the click does not open the row under it.
void MainWindow::onContextMenuHidden() {
    if (QGuiApplication::mouseButtons() == Qt::NoButton) {
        m_menuBusy = false;
        return;
    }
    new ReleaseWatcher(this, [this] { m_menuBusy = false; });
}

void MainWindow::runPathPopup() {
    m_menuBusy = true;
    const int k = PathPopup(this, m_settings.curDir, m_volumes, m_pathButton,
                            [this](bool open) { setPathPopupOpen(open); });
    m_menuBusy = false;
    applyPathPopupChoice(k);
}

void MainWindow::applyPathPopupChoice(int k) {
    if (k < 2)
        return;
    const QString path = ApplyPathPopupChoice(m_settings.curDir, k, m_volumes);
    if (path == m_settings.curDir)
        return;
    m_settings.curDir = path;
    listCurDir();
}

QMenu* MainWindow::makeSortPopup(QWidget* parent) const {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("SortPopup"));
    const char* names[] = {"Name", "Date", "Size", "Type"};
    for (int key = 0; key < 4; ++key) {
        const QString name = QString::fromLatin1(names[key]);
        QAction* action =
            menu->addAction(uint32_t(key) == m_settings.sort ? QStringLiteral("* ") + name : name);
        action->setData(id::SortPopupBase + key);
    }
    return menu;
}

// Right-aligned at the SortButton's right edge, just below it.
QPoint MainWindow::sortPopupPosition(const QMenu* menu) const {
    const int x = width() <= 320 ? width() : width() / 2 - 20;
    return mapToGlobal(QPoint(x - menu->sizeHint().width(), 21));
}

void MainWindow::runSortPopup() {
    m_menuBusy = true;
    setSortPopupOpen(true);
    const std::unique_ptr<QMenu> menu(makeSortPopup(this));
    const QAction* chosen = menu->exec(sortPopupPosition(menu.get()));
    const int message = chosen ? chosen->data().toInt() : 0;
    setSortPopupOpen(false);
    m_menuBusy = false;
    if (message >= id::SortPopupBase)
        applySortChoice(message - id::SortPopupBase);
}

void MainWindow::applySortChoice(int sort) {
    if (sort < 0 || sort > 3)
        return;
    setSort(uint32_t(sort));
}

} // namespace zapfer
