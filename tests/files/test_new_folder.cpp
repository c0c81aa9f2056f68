#include "file_tree.h"
#include "new_folder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

using NewFolderTest = TempFolderTest;

} // namespace

TEST_F(NewFolderTest, TakesTheFirstFreeDefaultName) {
    NewFolder created = CreateNewFolder(m_root);
    EXPECT_EQ(created.name, QStringLiteral("New Folder"));
    EXPECT_TRUE(isDirectory(path(QStringLiteral("New Folder"))));

    // A file of that name takes it too.
    ASSERT_TRUE(QDir(m_root).rmdir(QStringLiteral("New Folder")));
    ASSERT_TRUE(writeFile(path(QStringLiteral("New Folder"))));
    created = CreateNewFolder(m_root);
    EXPECT_EQ(created.name, QStringLiteral("New Folder(1)"));
    EXPECT_TRUE(isDirectory(path(QStringLiteral("New Folder(1)"))));

    created = CreateNewFolder(m_root);
    EXPECT_EQ(created.name, QStringLiteral("New Folder(2)"));
    EXPECT_TRUE(isDirectory(path(QStringLiteral("New Folder(2)"))));

    // (1) free again while (2) stands: the first free number wins.
    ASSERT_TRUE(QDir(m_root).rmdir(QStringLiteral("New Folder(1)")));
    EXPECT_EQ(newFolderName(m_root), QStringLiteral("New Folder(1)"));
    created = CreateNewFolder(m_root);
    EXPECT_EQ(created.name, QStringLiteral("New Folder(1)"));
    EXPECT_EQ(created.error, 0);
    EXPECT_EQ(readFile(path(QStringLiteral("New Folder"))), QByteArray("data"));

    // A dangling link is an entry of that name as well.
    ASSERT_EQ(
        symlink("nowhere", QFile::encodeName(path(QStringLiteral("New Folder(3)"))).constData()),
        0);
    EXPECT_EQ(newFolderName(m_root), QStringLiteral("New Folder(4)"));
}

TEST_F(NewFolderTest, RefusedWithoutAFolderAndReportsAFailedCreation) {
    NewFolder created = CreateNewFolder(QString());
    EXPECT_TRUE(created.name.isEmpty());
    EXPECT_EQ(created.error, ENOENT);

    created = CreateNewFolder(path(QStringLiteral("missing")));
    EXPECT_TRUE(created.name.isEmpty());
    EXPECT_EQ(created.error, ENOENT);
    EXPECT_FALSE(exists(path(QStringLiteral("missing"))));
}
