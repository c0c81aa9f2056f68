#pragma once

#include <QString>

namespace zapfer {

// The first free default name in `dir`: "New Folder", else "New Folder(n)"
// with the smallest n from 1 up. Any entry counts as taken: a file, a folder
// or a link, dangling or not. Empty when no name is free.
QString newFolderName(const QString& dir);

struct NewFolder {
    QString name;  // the default name given, empty when none was created
    int error = 0; // errno of the failed creation
};

// Creates a folder with the first free default name in `curDir`. Refused
// (error ENOENT) in the "My Computer" view, where `curDir` is empty. The
// name the user then types is applied by the window's label-edit rename.
NewFolder CreateNewFolder(const QString& curDir);

} // namespace zapfer
