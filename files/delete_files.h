#pragma once

#include "operation_progress.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace zapfer {

// The confirmation for deleting `names` (FileList rows of `curDir`; in the
// "My Computer" view `curDir` is empty and the names are mount points): the
// folder question for one folder (or one item that cannot be examined), the
// file question for one file or link, the count question for any other
// number, none included. The text always says the deletion is final.
UserMessage deleteQuestion(const QString& curDir, const QStringList& names);

// Whether the deletion goes ahead: at once when `promptDelete` is off,
// otherwise only when `askYesNo` (shown on the GUI thread) answers Yes.
bool confirmDeletion(const QString& curDir, const QStringList& names, bool promptDelete,
                     const std::function<bool(const UserMessage&)>& askYesNo);

// Deletes each of `names` in `curDir`: a folder with everything below it, a
// file or symbolic link by itself. A read-only file (no write permission
// bit, as File Properties sets it) is kept and counts as a failure, here
// and inside folders. Runs on any thread; stops between items
// and between files once `progress` is cancelled. Items of the "My Computer"
// view (empty `curDir`) and names that are not one plain component all fail
// untouched. Progress counts items.
OperationResult DeleteSelected(const QString& curDir, const QStringList& names,
                               OperationProgress& progress);

// Shown once when `DeleteSelected` reports a failure.
UserMessage deleteFailureMessage();

enum class TreeDeletion { Deleted, Failed, Cancelled };

// Deletes the folder `path` and everything below it, at any depth and path
// length. Symbolic links are removed as links, never followed; a folder on
// another file system mounted inside the tree is left alone (the deletion
// then fails). Entries that cannot be deleted stay with the folders above
// them (read-only files among them); everything else goes. Cancelling stops between two entries.
TreeDeletion DeleteFolderTree(const QString& path, OperationProgress& progress);

} // namespace zapfer
