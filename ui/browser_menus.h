#pragma once

#include <QObject>
#include <QPoint>

class QMenu;

namespace zapfer {

struct Settings;
class BrowserPane;
class CaptionButton;
class ContextMenus;

// The FileList's menus: PathButton (40019) with the path popup, SortButton
// (40038) with the sort popup, the context menus, and MenuBusy, which keeps
// the click that closes a menu from also opening the folder under it.
// GUI thread only.
class BrowserMenus : public QObject {
    Q_OBJECT
public:
    // `settings` outlives the menus: the popups read and set CurDir, Sort and
    // PathPopupOpen in it.
    BrowserMenus(BrowserPane& pane, Settings& settings);

    CaptionButton* pathButton() const { return m_pathButton; }
    CaptionButton* sortButton() const { return m_sortButton; }
    ContextMenus* contextMenus() const { return m_contextMenus; }

    // Set while a menu is up and until the click that closed it is done.
    bool menuBusy() const { return m_menuBusy; }
    void setMenuBusy(bool busy) { m_menuBusy = busy; }
    // The buttons' captions for CurDir, Sort and the popups' state.
    void updateCaptions();
    void setPathPopupOpen(bool open);
    void setSortPopupOpen(bool open);

    void runPathPopup();
    // A chosen path popup entry k (message 1024 + k) and sort popup key.
    void applyPathPopupChoice(int k);
    void runSortPopup();
    void applySortChoice(int sort);
    // The sort popup's menu ("Name", "Date", "Size", "Type", the current one
    // marked) and where it shows, right-aligned under the SortButton.
    QMenu* makeSortPopup(QWidget* parent) const;
    QPoint sortPopupPosition(const QMenu* menu) const;
    // Shows "CONTEXT1" or "CONTEXT2" for the FileList selection at `globalPos`.
    void showContextMenu(const QPoint& globalPos);

Q_SIGNALS:
    // A context menu item was chosen.
    void command(int commandId);

private:
    void onContextMenuHidden();

    BrowserPane& m_pane;
    Settings& m_settings;
    CaptionButton* m_pathButton;
    CaptionButton* m_sortButton;
    ContextMenus* m_contextMenus;
    bool m_menuBusy = false;
    bool m_sortPopupOpen = false;
};

} // namespace zapfer
