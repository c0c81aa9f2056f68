#include "default_destination.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace zapfer {

namespace fs = std::filesystem;

namespace {

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

// The value of XDG_DOWNLOAD_DIR as xdg-user-dirs writes it: a quoted path that
// is absolute or starts with $HOME. Anything else is ignored.
std::optional<std::string> xdgDownloadDir(const std::string& home, const std::string& configHome) {
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    std::optional<std::string> found;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        constexpr std::string_view kKey = "XDG_DOWNLOAD_DIR=";
        if (line.compare(start, kKey.size(), kKey) != 0)
            continue;
        std::string value = line.substr(start + kKey.size());
        while (!value.empty() &&
               (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
            found = home + value.substr(5);
        else if (!value.empty() && value.front() == '/')
            found = value;
        else
            found.reset(); // a later malformed line overrides an earlier one, as the shell would
    }
    return found;
}

bool isSameFolder(const fs::path& a, const fs::path& b) {
    if (a.lexically_normal() / "" == b.lexically_normal() / "")
        return true;
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

} // namespace

std::string downloadFolderFor(const std::string& home, const std::string& configHome) {
    const fs::path fallback = fs::path(home) / "Downloads";
    const std::optional<std::string> named = xdgDownloadDir(home, configHome);
    if (!named || isSameFolder(*named, home))
        return fallback.string();
    std::string folder = fs::path(*named).lexically_normal().string();
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string defaultDestinationPath() {
    const std::string home = homeFolder();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string configHome = config && *config ? std::string(config) : home + "/.config";
    return downloadFolderFor(home, configHome);
}

std::string defaultDestination() {
    const std::string folder = defaultDestinationPath();
    std::error_code ec;
    fs::create_directories(folder, ec); // a failure shows later as "not a folder"
    return folder;
}

} // namespace zapfer
