#include "rename_no_replace.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A fresh folder under the temporary directory, removed with its files.
class RenameNoReplaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "zapfer-base-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_dirFd.reset(open(m_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(m_dirFd.valid());
    }
    void TearDown() override {
        std::system(("rm -rf '" + m_dir + "'").c_str());
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(m_dir + "/" + name) << text;
    }
    std::string read(const std::string& name) {
        std::ifstream in(m_dir + "/" + name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string& name) {
        struct stat st {};
        return fstatat(m_dirFd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }

    std::string m_dir;
    zapfer::UniqueFd m_dirFd;
};

TEST_F(RenameNoReplaceTest, RenamesOntoAFreeName) {
    write("a", "first");
    EXPECT_TRUE(zapfer::renameNoReplace(m_dirFd.get(), "a", m_dirFd.get(), "b", false));
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ(read("b"), "first");
}

TEST_F(RenameNoReplaceTest, NeverReplacesAnExistingFileOrFolder) {
    write("a", "new");
    write("b", "old");
    errno = 0;
    EXPECT_FALSE(zapfer::renameNoReplace(m_dirFd.get(), "a", m_dirFd.get(), "b", false));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read("a"), "new") << "the source stays where it was";
    EXPECT_EQ(read("b"), "old");

    ASSERT_EQ(mkdirat(m_dirFd.get(), "folder", 0700), 0);
    EXPECT_FALSE(zapfer::renameNoReplace(m_dirFd.get(), "a", m_dirFd.get(), "folder", false));
    EXPECT_TRUE(exists("a"));
}

TEST_F(RenameNoReplaceTest, MovesAFolderBetweenFolders) {
    ASSERT_EQ(mkdirat(m_dirFd.get(), "from", 0700), 0);
    ASSERT_EQ(mkdirat(m_dirFd.get(), "to", 0700), 0);
    write("from/inner", "kept");
    const zapfer::UniqueFd to(openat(m_dirFd.get(), "to", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(to.valid());
    EXPECT_TRUE(zapfer::renameNoReplace(m_dirFd.get(), "from", to.get(), "moved", true));
    EXPECT_EQ(read("to/moved/inner"), "kept");
}

TEST_F(RenameNoReplaceTest, AMissingSourceFailsWithItsReason) {
    errno = 0;
    EXPECT_FALSE(zapfer::renameNoReplace(m_dirFd.get(), "absent", m_dirFd.get(), "b", false));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(exists("b"));
}

} // namespace
