// The folder received files go to when none was chosen: the XDG download
// folder, created when missing, and never the home folder itself.

#include "default_destination.h"
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>

using namespace zapfer;
using namespace zapfer::test;
namespace fs = std::filesystem;

namespace {
// Sets an environment variable for one test and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

void writeUserDirs(const fs::path& configHome, const std::string& downloadLine) {
    fs::create_directories(configHome);
    std::ofstream(configHome / "user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                 << "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                 << downloadLine << "\n"
                                                 << "XDG_MUSIC_DIR=\"$HOME/Music\"\n";
}
} // namespace

TEST(DefaultDestination, FollowsUserDirsOrFallsBackToDownloads) {
    TempDir home;
    const std::string h = home.path().string();
    const fs::path config = home / "cfg";
    EXPECT_EQ(downloadFolderFor(h, config.string()), h + "/Downloads") << "no user-dirs.dirs";

    writeUserDirs(config, "XDG_DOWNLOAD_DIR=\"$HOME/Incoming files\"");
    EXPECT_EQ(downloadFolderFor(h, config.string()), h + "/Incoming files");
    writeUserDirs(config, "  XDG_DOWNLOAD_DIR=\"/srv/drop/\"");
    EXPECT_EQ(downloadFolderFor(h, config.string()), "/srv/drop");
    writeUserDirs(config, "XDG_DESKTOP_DIR=\"$HOME/Desktop\"");
    EXPECT_EQ(downloadFolderFor(h, config.string()), h + "/Downloads") << "no download line";
    writeUserDirs(config, "XDG_DOWNLOAD_DIR=\"relative/dir\"");
    EXPECT_EQ(downloadFolderFor(h, config.string()), h + "/Downloads") << "a relative path";
    writeUserDirs(config, "#XDG_DOWNLOAD_DIR=\"$HOME/commented\"");
    EXPECT_EQ(downloadFolderFor(h, config.string()), h + "/Downloads");
}

TEST(DefaultDestination, NeverTheHomeFolderItself) {
    TempDir home;
    const std::string h = home.path().string();
    const fs::path config = home / "cfg";
    // xdg-user-dirs writes "$HOME/" for a folder it has disabled.
    for (const std::string& line :
         {std::string("XDG_DOWNLOAD_DIR=\"$HOME\""), std::string("XDG_DOWNLOAD_DIR=\"$HOME/\""),
          std::string("XDG_DOWNLOAD_DIR=\"$HOME/.\""), "XDG_DOWNLOAD_DIR=\"" + h + "\"",
          "XDG_DOWNLOAD_DIR=\"" + h + "/cfg/..\""}) {
        writeUserDirs(config, line);
        EXPECT_EQ(downloadFolderFor(h, config.string()), h + "/Downloads") << line;
    }
}

TEST(DefaultDestination, ReadsTheEnvironmentAndCreatesTheFolder) {
    TempDir home;
    const std::string h = home.path().string();
    {
        // XDG_CONFIG_HOME unset: ~/.config/user-dirs.dirs.
        ScopedEnv homeVar("HOME", h);
        ScopedEnv configVar("XDG_CONFIG_HOME", std::nullopt);
        writeUserDirs(home / ".config", "XDG_DOWNLOAD_DIR=\"$HOME/Dl/inbox\"");
        EXPECT_EQ(defaultDestination(), h + "/Dl/inbox");
        EXPECT_TRUE(fs::is_directory(home / "Dl" / "inbox"));
    }
    {
        ScopedEnv homeVar("HOME", h);
        ScopedEnv configVar("XDG_CONFIG_HOME", (home / "elsewhere").string());
        EXPECT_EQ(defaultDestination(), h + "/Downloads");
        EXPECT_TRUE(fs::is_directory(home / "Downloads"));
        writeUserDirs(home / "elsewhere", "XDG_DOWNLOAD_DIR=\"$HOME\"");
        EXPECT_EQ(defaultDestination(), h + "/Downloads");
    }
}
