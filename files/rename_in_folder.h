#pragma once

#include <QString>

namespace zapfer {

struct RenameResult {
    enum class Status { Renamed, Exists, BadName, Failed };
    Status status = Status::Failed;
    QString reason; // the system's words, for Failed
};

// Renames `oldName` to `newName` inside `folder`, never replacing anything
// already called `newName` (plain rename() would silently overwrite it). A
// new name that is empty, "." or "..", or holds a "/" is refused: it would
// move the file rather than rename it.
RenameResult renameInFolder(const QString& folder, const QString& oldName, const QString& newName);

} // namespace zapfer
