#pragma once

#include "send_list_model.h"

#include <QModelIndexList>
#include <QObject>
#include <QStringList>

#include <vector>

class QTreeView;
class QWidget;

namespace zapfer {

class FileListModel;

// The SendList: its model, its view (object name "5") and the commands that
// fill and empty it. Refusals are reported to the user in one message box
// owned by `owner`. GUI thread only.
class SendListController : public QObject {
    Q_OBJECT
public:
    explicit SendListController(QWidget* owner);

    QTreeView* view() const { return m_view; }
    SendListModel* model() const { return m_model; }

    // Add to Send List (40026) for the FileList rows `rows` of `files`,
    // listing `curDir`. Every row counts against the limit, folders and
    // names already queued included; nothing is added when they would not
    // all fit. Rows that cannot be read beep, one beep each.
    void addRows(QModelIndexList rows, const FileListModel& files, const QString& curDir);
    // Remove from Send List (40021): the selected rows; a beep when none.
    void removeSelected();
    // Adds files (command line, hand-over, drops), each path on its own;
    // returns how many were added.
    int addPaths(const QStringList& paths);
    // Adds the entries of a path list (see path_list.h); returns the number
    // of entries. Unreadable paths and names already queued are skipped
    // silently; what does not fit under 100 files is refused with one message.
    int addPathList(const QStringList& list);
    // After a send: of the top `count` entries, those `sent` marks (all when
    // `sent` is shorter) leave the list; the rest stay queued.
    void removeSent(int count, const std::vector<bool>& sent);

Q_SIGNALS:
    void contentsChanged();

private:
    // Reports, once, the files refused for their size or name and a full list.
    void reportRefusals(const QStringList& tooLarge, const QStringList& tooLong,
                        const QStringList& unsafe, bool full);

    QWidget* m_owner;
    SendListModel* m_model;
    QTreeView* m_view;
};

} // namespace zapfer
