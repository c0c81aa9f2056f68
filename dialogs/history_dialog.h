#pragma once

#include "history_reader.h"

#include <QDialog>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace zapfer {

// "History": the recent transfers, newest first, and the files of the one
// selected, read off the GUI thread. "Open Folder" shows where a received
// file went; "Send Again" hands the files of a send that did not go through
// to `addToSendList`, which answers how many it took.
class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    using AddToSendList = std::function<int(const QStringList& paths)>;

    // How many transfers the dialog lists: the history keeps far more.
    static constexpr int kRecentTransfers = 500;
    // How long a read waits for a program that is writing the history.
    static constexpr int kReadBusyTimeoutMs = 1000;

    // `historyPath` is the database; `destDir` the folder received names
    // without one of their own are in.
    HistoryDialog(const QString& historyPath, const QString& destDir, AddToSendList addToSendList,
                  QWidget* parent = nullptr);
    ~HistoryDialog() override;

    QTreeWidget* transferList() const { return m_transfers; }
    QTreeWidget* fileList() const { return m_files; }
    QPushButton* openFolderButton() const { return m_openFolder; }
    QPushButton* sendAgainButton() const { return m_sendAgain; }
    QLabel* messageLine() const { return m_message; }
    // True from a request until its answer has been shown.
    bool isReading() const { return m_pendingReads > 0; }

    // Reads the transfers again; the selection is kept where it still exists.
    void reload();

    enum TransferColumn {
        TimeColumn,
        DirectionColumn,
        LinkColumn,
        PeerColumn,
        OutcomeColumn,
        FilesColumn,
        BytesColumn,
        DurationColumn,
        TransferColumnCount
    };
    enum FileColumn {
        NameColumn,
        ResultColumn,
        SizeColumn,
        DoneColumn,
        CrcColumn,
        StoredAsColumn,
        FileColumnCount
    };

private:
    void showTransfers(const HistoryPage& page);
    void showFiles(const HistoryFiles& files);
    void sendAgain(const HistoryFiles& failed);
    void selectionChanged();
    void openFolder();
    void requestFiles(qint64 transferId, bool failedOnly);
    void say(const QString& text);
    const history::StoredTransfer* selectedTransfer() const;

    QString m_destDir;
    AddToSendList m_addToSendList;
    QThread m_thread;
    std::unique_ptr<HistoryReader> m_reader;
    std::vector<history::StoredTransfer> m_shown;
    std::vector<history::FileRecord> m_shownFiles;
    qint64 m_filesOf = -1; // the transfer whose files are listed or asked for
    int m_pendingReads = 0;
    QTreeWidget* m_transfers = nullptr;
    QTreeWidget* m_files = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_openFolder = nullptr;
    QPushButton* m_sendAgain = nullptr;
};

// The folder holding a received file stored as `nameStored`: its own folder
// when the name is a path, `destDir` (and any folder part of the name)
// otherwise. Empty for an empty name.
QString folderOfStoredName(const QString& nameStored, const QString& destDir);

} // namespace zapfer
