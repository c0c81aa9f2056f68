#include "browser_menus.h"

#include "browser_pane.h"
#include "button_captions.h"
#include "context_menus.h"
#include "control_ids.h"
#include "path_popup.h"
#include "settings_store.h"
#include "window_buttons.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QTimer>

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

BrowserMenus::BrowserMenus(BrowserPane& pane, Settings& settings)
    : QObject(&pane), m_pane(pane), m_settings(settings),
      m_pathButton(new CaptionButton(id::PathButton, CaptionButton::Align::Left, pane.owner())),
      m_sortButton(new CaptionButton(id::SortButton, CaptionButton::Align::Right, pane.owner())),
      m_contextMenus(new ContextMenus(pane.owner())) {
    connect(m_pathButton, &QAbstractButton::clicked, this, &BrowserMenus::runPathPopup);
    connect(m_sortButton, &QAbstractButton::clicked, this, &BrowserMenus::runSortPopup);
    connect(m_contextMenus, &ContextMenus::command, this, &BrowserMenus::command);
    connect(m_contextMenus->single(), &QMenu::aboutToHide, this,
            &BrowserMenus::onContextMenuHidden);
    connect(m_contextMenus->multiple(), &QMenu::aboutToHide, this,
            &BrowserMenus::onContextMenuHidden);
    m_sortButton->setCaption(sortButtonCaption(m_settings.sort, m_sortPopupOpen));
}

void BrowserMenus::updateCaptions() {
    m_pathButton->setCaption(
        pathButtonCaption(m_settings.curDir, m_settings.pathPopupOpen, m_pane.volumes()));
    m_sortButton->setCaption(sortButtonCaption(m_settings.sort, m_sortPopupOpen));
}

void BrowserMenus::setPathPopupOpen(bool open) {
    m_settings.pathPopupOpen = open;
    updateCaptions();
}

void BrowserMenus::setSortPopupOpen(bool open) {
    m_sortPopupOpen = open;
    updateCaptions();
}

void BrowserMenus::showContextMenu(const QPoint& globalPos) {
    m_menuBusy = true;
    const QModelIndexList rows = m_pane.selectedRows();
    if (rows.size() > 1) {
        m_contextMenus->multiple()->popup(
            globalPos - QPoint(m_contextMenus->multiple()->sizeHint().width() / 2, 0));
        return;
    }
    const QString path = m_pane.firstSelectedPath();
    m_contextMenus->prepareSingle(!path.isEmpty(), isExecutableFile(path));
    m_contextMenus->single()->popup(globalPos -
                                    QPoint(m_contextMenus->single()->sizeHint().width() / 2, 0));
}

// A menu closed by a choice or a key leaves nothing behind. One closed by a
// mouse press elsewhere keeps MenuBusy until that press's click is done, so
// that the click does not open the row under it.
void BrowserMenus::onContextMenuHidden() {
    if (QGuiApplication::mouseButtons() == Qt::NoButton) {
        m_menuBusy = false;
        return;
    }
    new ReleaseWatcher(this, [this] { m_menuBusy = false; });
}

void BrowserMenus::runPathPopup() {
    m_menuBusy = true;
    const int k = PathPopup(m_pane.owner(), m_settings.curDir, m_pane.volumes(), m_pathButton,
                            [this](bool open) { setPathPopupOpen(open); });
    m_menuBusy = false;
    applyPathPopupChoice(k);
}

void BrowserMenus::applyPathPopupChoice(int k) {
    if (k < 2)
        return;
    const QString& curDir = m_settings.curDir;
    const QString path = ApplyPathPopupChoice(curDir, k, m_pane.volumes());
    if (path != curDir)
        m_pane.setCurDir(path);
}

QMenu* BrowserMenus::makeSortPopup(QWidget* parent) const {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("SortPopup"));
    const char* names[] = {
        QT_TRANSLATE_NOOP("SortButton", "Name"), QT_TRANSLATE_NOOP("SortButton", "Date"),
        QT_TRANSLATE_NOOP("SortButton", "Size"), QT_TRANSLATE_NOOP("SortButton", "Type")};
    for (int key = 0; key < 4; ++key) {
        const QString name = QCoreApplication::translate("SortButton", names[key]);
        QAction* action =
            menu->addAction(uint32_t(key) == m_settings.sort ? QStringLiteral("* ") + name : name);
        action->setData(id::SortPopupBase + key);
    }
    return menu;
}

// Right-aligned at the SortButton's right edge, just below it.
QPoint BrowserMenus::sortPopupPosition(const QMenu* menu) const {
    const QWidget* window = m_pane.owner();
    const int x = window->width() <= 320 ? window->width() : window->width() / 2 - 20;
    return window->mapToGlobal(QPoint(x - menu->sizeHint().width(), 21));
}

void BrowserMenus::runSortPopup() {
    m_menuBusy = true;
    setSortPopupOpen(true);
    const std::unique_ptr<QMenu> menu(makeSortPopup(m_pane.owner()));
    const QAction* chosen = menu->exec(sortPopupPosition(menu.get()));
    const int message = chosen ? chosen->data().toInt() : 0;
    setSortPopupOpen(false);
    m_menuBusy = false;
    if (message >= id::SortPopupBase)
        applySortChoice(message - id::SortPopupBase);
}

void BrowserMenus::applySortChoice(int sort) {
    if (sort < 0 || sort > 3)
        return;
    m_pane.setSort(uint32_t(sort));
}

} // namespace zapfer
