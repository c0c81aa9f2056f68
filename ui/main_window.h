#pragma once

#include "engine.h"
#include "file_commands.h"
#include "send_list.h"
#include "sound_player.h"

#include <QStringList>
#include <QWidget>

#include <array>

class QLabel;
class QTimer;
class QMenu;
class QTreeView;

namespace zapfer {

struct Settings;
class CaptionButton;
class CommandButton;
class ContextMenus;
class FileListModel;
struct FileRecord;
class TransferCommands;

// Zapfer's one window: PathButton and SortButton, the FileList, the SendList,
// the seven command buttons and the status line, in a landscape layout above
// 320 pixels of width and a portrait one at 320 or less.
//
// It is the engine's EngineEvents: each call, made on an engine thread, is
// turned into a queued call on the GUI thread. Everything else runs on the
// GUI thread.
class MainWindow : public QWidget, public EngineEvents {
    Q_OBJECT
public:
    // `settings` outlives the window; CurDir and Sort change in it as the
    // user browses. `volumes` is the "My Computer" view.
    MainWindow(Settings& settings, QStringList volumes, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The engine the window drives; detach it before the engine is destroyed.
    void attachEngine(Engine* engine);
    void detachEngine();
    Engine* engine() const { return m_engine; }
    // Opens the link of the current CommType, reporting a failure, and sets
    // the title and the Send button.
    void openLink();

    // Height of a menu bar in the current style: portrait splits the height
    // around it.
    int menuBarHeight() const;
    bool wideScreen() const;

    // ListDirectory of CurDir into the FileList.
    void listCurDir();
    void setSort(uint32_t sort);
    void setPathPopupOpen(bool open);
    void setSortPopupOpen(bool open);
    // Adds files to the SendList (command line, hand-over, drops), each path
    // on its own; returns how many were added.
    int addPaths(const QStringList& paths);
    // Adds the entries of a path list (see path_list.h); returns the number
    // of entries. Unreadable paths and names already queued are skipped
    // silently; what does not fit under 100 files is refused with one
    // message. Refreshes the status line.
    int AddPathList(const QStringList& list);
    void UpdateStatusLine();

    // The command table: every button, menu item and list action arrives
    // here with its command number.
    void command(int commandId);
    // A chosen path popup entry k (message 1024 + k) and sort popup key.
    void applyPathPopupChoice(int k);
    void applySortChoice(int sort);
    // Shows "CONTEXT1" or "CONTEXT2" for the FileList selection at `globalPos`.
    void showContextMenu(const QPoint& globalPos);
    // The sort popup's menu ("Name", "Date", "Size", "Type", the current one
    // marked) and where it shows, right-aligned under the SortButton.
    QMenu* makeSortPopup(QWidget* parent) const;
    QPoint sortPopupPosition(const QMenu* menu) const;

    // Set while a menu is up and until the click that closed it is done.
    bool menuBusy() const { return m_menuBusy; }
    ContextMenus* contextMenus() const { return m_contextMenus; }
    const QStringList& volumes() const { return m_volumes; }
    const Settings& settings() const { return m_settings; }

    QTreeView* fileList() const { return m_fileList; }
    FileListModel* fileListModel() const { return m_model; }
    SendList* sendList() const { return m_sendList; }
    QLabel* statusLine() const { return m_statusLine; }
    CaptionButton* pathButton() const { return m_pathButton; }
    CaptionButton* sortButton() const { return m_sortButton; }
    CommandButton* commandButton(int position) const { return m_commandButtons[size_t(position)]; }
    // Receives finished since start.
    int receivesFinished() const { return m_receivesFinished; }
    // Send and Receive with their dialogs.
    TransferCommands* transfers() const { return m_transfers; }

    // EngineEvents (engine threads).
    void incomingTransfer() override;
    void closeConnectingDialog() override;
    void closeStatusDialog() override;
    void fileStarted(const std::string& namePart) override;
    void playSound(Sound sound) override;
    void linkMessage(const std::string& text, const std::string& caption) override;

Q_SIGNALS:
    // A receive has ended and the engine is listening again.
    void receiveFinished(int filesDone, int fileCount);
    // A send has ended and has been reported.
    void sendFinished(int filesDone, int fileCount);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createChildren();
    void layoutChildren(int cx, int cy);
    void addSelectedToSendList();
    void removeSelectedFromSendList();
    void onFileListClicked(const QModelIndex& index);
    void onSendListClicked();
    void openRow(const QModelIndex& index);
    void onContextMenuHidden();
    void runPathPopup();
    void runSortPopup();
    void selectAllFiles();
    void startRename();
    bool renameRow(const FileRecord& record, const QString& newName);
    // The full path of the first selected FileList row; empty when none.
    QString firstSelectedPath() const;
    void openSelected();
    void runSelected();
    void openHelp();
    void showAbout();
    void sendFiles();
    // Opens the Settings dialog; its OK applies the settings at once.
    void showSettings();
    // Saves `chosen` and, when the type or its device changed, switches the link.
    void applySettings(const Settings& chosen);
    // Reports, once, the files refused by the SendList and a full list.
    void reportRefusals(const QStringList& tooLarge, const QStringList& tooLong, bool full);
    void StatusRefresh();
    void updateLinkDisplay();
    void onReceive();
    void showError(const QString& text, const QString& caption);

    Settings& m_settings;
    FileCommands m_fileCommands{*this};
    ContextMenus* m_contextMenus = nullptr;
    bool m_menuBusy = false;
    const QStringList m_volumes;
    Engine* m_engine = nullptr;
    SoundPlayer m_sound;

    QTreeView* m_fileList = nullptr;
    FileListModel* m_model = nullptr;
    SendList* m_sendList = nullptr;
    QLabel* m_statusLine = nullptr;
    CaptionButton* m_pathButton = nullptr;
    CaptionButton* m_sortButton = nullptr;
    std::array<CommandButton*, 7> m_commandButtons{};
    QTimer* m_timer = nullptr;

    bool m_sortPopupOpen = false;
    TransferCommands* m_transfers = nullptr;
    int m_receivesFinished = 0;
};

} // namespace zapfer
