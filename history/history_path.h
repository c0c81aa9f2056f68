#pragma once

// Where the history lives: $XDG_DATA_HOME/Quorvel/Zapfer/history.sqlite,
// ~/.local/share/Quorvel/Zapfer/history.sqlite when the variable is unset.

#include "history_result.h"

#include <string>

namespace zapfer::history {

// Empty when neither XDG_DATA_HOME nor a home folder can be found.
std::string defaultHistoryPath();

// Creates the missing folders above `path`, each readable by the user only
// (the history names files and peers). Existing folders keep their mode.
HistoryStatus makeParentFolders(const std::string& path);

} // namespace zapfer::history
