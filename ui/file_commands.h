#pragma once

#include <QStringList>

namespace zapfer {

class BrowserPane;

// The file-management commands of the context menus that work on the
// FileList selection: Delete, New Folder, Move, Copy To and Properties. The
// work itself runs off the GUI thread with a progress dialog when it is long.
class FileCommands {
public:
    explicit FileCommands(BrowserPane& browser) : m_browser(browser) {}

    void deleteSelected(); // 40025
    void newFolder();      // 40034
    void moveSelected();   // 40031
    void copySelected();   // 40033
    void showProperties(); // 40027

private:
    // Names of the selected FileList rows, in list order.
    QStringList selectedNames() const;
    void moveOrCopy(bool move);

    BrowserPane& m_browser;
};

} // namespace zapfer
