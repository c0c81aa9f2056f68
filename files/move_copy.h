#pragma once

#include "operation_progress.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zapfer {

// The only check made before a move or copy: the destination typed is
// exactly `curDir` (case and a trailing separator count).
bool isSameDirectory(const QString& destination, const QString& curDir);
UserMessage sameDirectoryRefusal();

// Move or copy each of `names` from `curDir` into `destination`, in order.
// Run on any thread. An existing target is never replaced; such an item
// fails and the others go on. Each item ends either fully done or untouched:
// a cancel stops between items or in the middle of one file's copy, whose
// partial copy is then removed. A relative destination is taken relative to
// `curDir`. The "My Computer" view (empty `curDir`) and names that are not
// one plain component fail every item. Progress counts bytes copied and items done.
//
// A move renames within one file system, folders included; across file
// systems a file or link is copied and then deleted (a folder fails), and
// the source stays whenever its copy could not be completed.
OperationResult MoveSelected(const QString& curDir, const QStringList& names,
                             const QString& destination, OperationProgress& progress);
// A copy takes regular files (through links) only; a folder fails.
// Permissions and the modification time go with the copy.
OperationResult CopySelected(const QString& curDir, const QStringList& names,
                             const QString& destination, OperationProgress& progress);

UserMessage moveFailureMessage();
UserMessage copyFailureMessage();

enum class CopyOutcome { Done, Failed, Cancelled };

// Copies the regular file `source` to `target`, which must not exist,
// through a temporary name in the target's folder that is renamed into
// place only when complete; `durable` flushes it to the disk first.
CopyOutcome copyFileNoReplace(const QByteArray& source, const QByteArray& target, bool durable,
                              OperationProgress& progress);

} // namespace zapfer
