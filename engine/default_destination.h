#pragma once

// Where received files go when the user has not chosen a folder. Shared by the
// window and zapfer-cli so that both land files in the same place.

#include <string>

namespace zapfer {

// The download folder named by XDG_DOWNLOAD_DIR in <configHome>/user-dirs.dirs,
// else <home>/Downloads. Never the home folder itself: a received dot-file or
// shell profile must not be able to land beside the user's own.
std::string downloadFolderFor(const std::string& home, const std::string& configHome);

// downloadFolderFor() for $HOME and $XDG_CONFIG_HOME (~/.config when unset).
std::string defaultDestinationPath();
// The same, created when missing: for the one about to store files there.
std::string defaultDestination();

} // namespace zapfer
