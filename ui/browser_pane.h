#pragma once

#include <QModelIndexList>
#include <QObject>
#include <QStringList>

#include <cstdint>

class QTreeView;
class QWidget;

namespace zapfer {

struct FileRecord;
struct Settings;
class BrowserMenus;
class FileListModel;

// The FileList (object name "4") over CurDir, with its path and sort
// buttons and menus: entering folders, renaming in place, Open, Run and the
// selection commands. The children are made on `owner`, the main window.
// GUI thread only.
class BrowserPane : public QObject {
    Q_OBJECT
public:
    // `settings` outlives the pane; CurDir and Sort change in it as the user
    // browses. `volumes` is the "My Computer" view.
    BrowserPane(QWidget* owner, Settings& settings, QStringList volumes);

    QWidget* owner() const { return m_owner; }
    QTreeView* fileList() const { return m_fileList; }
    FileListModel* model() const { return m_model; }
    BrowserMenus* menus() const { return m_menus; }
    const Settings& settings() const { return m_settings; }
    const QStringList& volumes() const { return m_volumes; }

    // ListDirectory of CurDir into the FileList.
    void listCurDir();
    // Enters `path` (a folder, a volume, or "" for the volume view).
    void setCurDir(const QString& path);
    void setSort(uint32_t sort);
    // The selected rows in list order.
    QModelIndexList selectedRows() const;
    // The full path of the first selected row; empty when none.
    QString firstSelectedPath() const;

    void selectAllFiles(); // 40035
    void deselectAll();    // 40036
    void startRename();    // 40028
    void openSelected();   // 40029
    void runSelected();    // 40037

Q_SIGNALS:
    // A command the FileList asks for: a double click adds (40026), the
    // context menus send their items.
    void command(int commandId);

private:
    void onClicked(const QModelIndex& index);
    bool renameRow(const FileRecord& record, const QString& newName);

    QWidget* m_owner;
    Settings& m_settings;
    const QStringList m_volumes;
    FileListModel* m_model;
    QTreeView* m_fileList;
    BrowserMenus* m_menus;
};

} // namespace zapfer
