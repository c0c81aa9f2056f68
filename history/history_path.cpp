#include "history_path.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapfer::history {
namespace {

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return {};
}

} // namespace

std::string defaultHistoryPath() {
    std::string dataHome;
    // A relative XDG_DATA_HOME is invalid and is to be ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
        dataHome = xdg;
    } else {
        const std::string home = homeFolder();
        if (home.empty())
            return {};
        dataHome = home + "/.local/share";
    }
    return dataHome + "/Quorvel/Zapfer/history.sqlite";
}

HistoryStatus makeParentFolders(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return std::monostate{};
    const std::string folder = path.substr(0, slash);
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return HistoryError{HistoryError::Kind::Io,
                                "cannot create the folder " + part + ": " + std::strerror(errno)};
        if (end == std::string::npos)
            break;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return HistoryError{HistoryError::Kind::Io, folder + " is not a folder"};
    return std::monostate{};
}

} // namespace zapfer::history
