#include "file_tree.h"
#include "move_copy.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class MoveCopy : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_src = m_dir.path() + QStringLiteral("/src");
        m_dst = m_dir.path() + QStringLiteral("/dst");
        ASSERT_TRUE(QDir().mkpath(m_src));
        ASSERT_TRUE(QDir().mkpath(m_dst));
    }
    QString src(const QString& name) const { return m_src + QLatin1Char('/') + name; }
    QString dst(const QString& name) const { return m_dst + QLatin1Char('/') + name; }
    QStringList entries(const QString& dir) const {
        return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                   QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;
    QString m_src;
    QString m_dst;
};

constexpr int64_t kMay2001 = 989'416'800;

} // namespace

TEST_F(MoveCopy, MoveOntoAnExistingNameFailsForThatItemOnly) {
    ASSERT_TRUE(writeFile(src(QStringLiteral("a.txt")), "new a"));
    ASSERT_TRUE(writeFile(src(QStringLiteral("b.txt")), "b"));
    ASSERT_TRUE(QDir(m_src).mkdir(QStringLiteral("folder")));
    ASSERT_TRUE(writeFile(src(QStringLiteral("folder/inside")), "x"));
    ASSERT_TRUE(writeFile(dst(QStringLiteral("a.txt")), "old a"));

    TestProgress progress;
    const OperationResult result = MoveSelected(
        m_src, {QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("folder")},
        m_dst + QLatin1Char('/'), progress);
    EXPECT_EQ(result.succeeded, 2);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(readFile(src(QStringLiteral("a.txt"))), QByteArray("new a"));
    EXPECT_EQ(readFile(dst(QStringLiteral("a.txt"))), QByteArray("old a"));
    EXPECT_EQ(readFile(dst(QStringLiteral("b.txt"))), QByteArray("b"));
    EXPECT_FALSE(exists(src(QStringLiteral("b.txt"))));
    // A folder moves whole within one file system.
    EXPECT_EQ(readFile(dst(QStringLiteral("folder/inside"))), QByteArray("x"));
    EXPECT_EQ(progress.done(), progress.total());

    const UserMessage message = moveFailureMessage();
    EXPECT_EQ(message.text, QStringLiteral("Not all of the files were moved successfully"));
    EXPECT_EQ(message.caption, QStringLiteral("Move File(s)"));
}

TEST_F(MoveCopy, CopyKeepsContentPermissionsAndTimeAndRefusesFoldersAndExistingNames) {
    QByteArray content(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char(i * 7 % 251);
    ASSERT_TRUE(writeFile(src(QStringLiteral("data.bin")), content));
    ASSERT_EQ(chmod(QFile::encodeName(src(QStringLiteral("data.bin"))).constData(), 0640), 0);
    ASSERT_TRUE(setModified(src(QStringLiteral("data.bin")), kMay2001));
    ASSERT_TRUE(writeFile(src(QStringLiteral("same.txt")), "mine"));
    ASSERT_TRUE(writeFile(dst(QStringLiteral("same.txt")), "theirs"));
    ASSERT_TRUE(QDir(m_src).mkdir(QStringLiteral("folder")));

    TestProgress progress;
    const OperationResult result = CopySelected(
        m_src, {QStringLiteral("data.bin"), QStringLiteral("same.txt"), QStringLiteral("folder")},
        m_dst, progress);
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_EQ(result.failed, 2);
    EXPECT_EQ(readFile(dst(QStringLiteral("data.bin"))), content);
    EXPECT_EQ(permissions(dst(QStringLiteral("data.bin"))), mode_t(0640));
    EXPECT_EQ(modifiedSeconds(dst(QStringLiteral("data.bin"))), kMay2001);
    EXPECT_EQ(readFile(src(QStringLiteral("data.bin"))), content);
    EXPECT_EQ(readFile(dst(QStringLiteral("same.txt"))), QByteArray("theirs"));
    EXPECT_FALSE(exists(dst(QStringLiteral("folder"))));
    EXPECT_EQ(entries(m_dst),
              (QStringList{QStringLiteral("data.bin"), QStringLiteral("same.txt")}));
    EXPECT_EQ(progress.done(), progress.total());

    const UserMessage message = copyFailureMessage();
    EXPECT_EQ(message.text, QStringLiteral("Not all of the files were copied successfully"));
    EXPECT_EQ(message.caption, QStringLiteral("Copy File(s)"));
}

TEST_F(MoveCopy, OnlyTheExactCurrentFolderIsRefusedBeforehand) {
    EXPECT_TRUE(isSameDirectory(m_src, m_src));
    EXPECT_FALSE(isSameDirectory(m_src + QLatin1Char('/'), m_src));
    EXPECT_FALSE(isSameDirectory(m_src.toUpper(), m_src));
    const UserMessage refusal = sameDirectoryRefusal();
    EXPECT_EQ(refusal.text,
              QStringLiteral("The source and destination directory cannot be the same"));
    EXPECT_EQ(refusal.caption, QStringLiteral("Error"));

    // The same folder named another way: nothing is replaced by itself.
    ASSERT_TRUE(writeFile(src(QStringLiteral("f")), "f"));
    TestProgress progress;
    EXPECT_EQ(MoveSelected(m_src, {QStringLiteral("f")}, m_src + QLatin1Char('/'), progress).failed,
              1);
    EXPECT_EQ(CopySelected(m_src, {QStringLiteral("f")}, m_src + QLatin1Char('/'), progress).failed,
              1);
    EXPECT_EQ(readFile(src(QStringLiteral("f"))), QByteArray("f"));
    EXPECT_EQ(entries(m_src), QStringList{QStringLiteral("f")});
}

TEST_F(MoveCopy, UnusableDestinationsAndNamesFailEveryItem) {
    ASSERT_TRUE(writeFile(src(QStringLiteral("f")), "f"));
    TestProgress progress;
    for (const QString& destination :
         {QString(), QStringLiteral("dst"), m_dir.path() + QStringLiteral("/nowhere")}) {
        SCOPED_TRACE(destination.toStdString());
        EXPECT_EQ(MoveSelected(m_src, {QStringLiteral("f")}, destination, progress).failed, 1);
        EXPECT_EQ(CopySelected(m_src, {QStringLiteral("f")}, destination, progress).failed, 1);
        EXPECT_TRUE(exists(src(QStringLiteral("f"))));
    }
    EXPECT_EQ(MoveSelected(m_src, {QStringLiteral("../src")}, m_dst, progress).failed, 1);
    EXPECT_EQ(MoveSelected(QString(), {m_src}, m_dst, progress).failed, 1);
    EXPECT_TRUE(entries(m_dst).isEmpty());
}

TEST_F(MoveCopy, ARelativeDestinationIsTakenFromTheFolderShown) {
    ASSERT_TRUE(QDir(m_src).mkpath(QStringLiteral("sub/inner")));
    for (const char* name : {"a", "b", "c", "d"})
        ASSERT_TRUE(writeFile(src(QLatin1String(name)), name));
    TestProgress progress;
    EXPECT_EQ(MoveSelected(m_src, {QStringLiteral("a")}, QStringLiteral("sub"), progress).succeeded,
              1);
    EXPECT_EQ(CopySelected(m_src, {QStringLiteral("b")}, QStringLiteral("sub/inner/"), progress)
                  .succeeded,
              1);
    EXPECT_EQ(
        MoveSelected(m_src, {QStringLiteral("c")}, QStringLiteral("../dst"), progress).succeeded,
        1);
    EXPECT_EQ(readFile(src(QStringLiteral("sub/a"))), QByteArray("a"));
    EXPECT_EQ(readFile(src(QStringLiteral("sub/inner/b"))), QByteArray("b"));
    EXPECT_EQ(readFile(src(QStringLiteral("b"))), QByteArray("b"));
    EXPECT_EQ(readFile(dst(QStringLiteral("c"))), QByteArray("c"));
    EXPECT_FALSE(exists(src(QStringLiteral("a"))));
    EXPECT_FALSE(exists(src(QStringLiteral("c"))));

    // "." is the folder shown itself: nothing is replaced by itself.
    EXPECT_EQ(MoveSelected(m_src, {QStringLiteral("d")}, QStringLiteral("."), progress).failed, 1);
    EXPECT_EQ(CopySelected(m_src, {QStringLiteral("d")}, QStringLiteral("."), progress).failed, 1);
    EXPECT_EQ(readFile(src(QStringLiteral("d"))), QByteArray("d"));
}

TEST_F(MoveCopy, CancelledCopyLeavesNoPartialFile) {
    const QByteArray content(8 * 1024 * 1024, 'z');
    ASSERT_TRUE(writeFile(src(QStringLiteral("first")), "1"));
    ASSERT_TRUE(writeFile(src(QStringLiteral("large")), content));
    ASSERT_TRUE(writeFile(src(QStringLiteral("last")), "3"));
    // Cancelled after the first item and the first megabyte of the second.
    TestProgress progress(2 + 1024 * 1024);
    const QStringList names = {QStringLiteral("first"), QStringLiteral("large"),
                               QStringLiteral("last")};
    OperationResult result = CopySelected(m_src, names, m_dst, progress);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(entries(m_dst), QStringList{QStringLiteral("first")});

    // A move across file systems cancelled the same way keeps its source.
    if (QDir(QStringLiteral("/dev/shm")).exists()) {
        QTemporaryDir shm(QStringLiteral("/dev/shm/zapfer-test-XXXXXX"));
        ASSERT_TRUE(shm.isValid());
        TestProgress moveProgress(1 + 1024 * 1024);
        result = MoveSelected(m_src, {QStringLiteral("large")}, shm.path(), moveProgress);
        EXPECT_TRUE(result.cancelled);
        EXPECT_TRUE(entries(shm.path()).isEmpty());
        EXPECT_EQ(readFile(src(QStringLiteral("large"))), content);
    }
}

TEST_F(MoveCopy, MoveAcrossFileSystemsCopiesThenDeletes) {
    QTemporaryDir shm(QStringLiteral("/dev/shm/zapfer-test-XXXXXX"));
    if (!shm.isValid() || !onDifferentFileSystems(m_src, shm.path()))
        GTEST_SKIP() << "/dev/shm is not a file system of its own here";

    ASSERT_TRUE(writeFile(src(QStringLiteral("file.txt")), "contents"));
    ASSERT_EQ(chmod(QFile::encodeName(src(QStringLiteral("file.txt"))).constData(), 0604), 0);
    ASSERT_TRUE(setModified(src(QStringLiteral("file.txt")), kMay2001));
    ASSERT_EQ(symlink("file.txt", QFile::encodeName(src(QStringLiteral("link"))).constData()), 0);
    ASSERT_TRUE(QDir(m_src).mkdir(QStringLiteral("folder")));
    ASSERT_TRUE(writeFile(src(QStringLiteral("taken")), "mine"));
    ASSERT_TRUE(writeFile(shm.path() + QStringLiteral("/taken"), "theirs"));

    TestProgress progress;
    const OperationResult result = MoveSelected(m_src,
                                                {QStringLiteral("file.txt"), QStringLiteral("link"),
                                                 QStringLiteral("folder"), QStringLiteral("taken")},
                                                shm.path(), progress);
    EXPECT_EQ(result.succeeded, 2);
    EXPECT_EQ(result.failed, 2);
    const QString moved = shm.path() + QStringLiteral("/file.txt");
    EXPECT_EQ(readFile(moved), QByteArray("contents"));
    EXPECT_EQ(permissions(moved), mode_t(0604));
    EXPECT_EQ(modifiedSeconds(moved), kMay2001);
    EXPECT_EQ(QFile::symLinkTarget(shm.path() + QStringLiteral("/link")), moved);
    EXPECT_EQ(entries(m_src), (QStringList{QStringLiteral("folder"), QStringLiteral("taken")}));
    EXPECT_EQ(readFile(shm.path() + QStringLiteral("/taken")), QByteArray("theirs"));
    EXPECT_EQ(entries(shm.path()), (QStringList{QStringLiteral("file.txt"), QStringLiteral("link"),
                                                QStringLiteral("taken")}));
}

TEST_F(MoveCopy, SourceThatCannotBeDeletedAfterACrossMoveStaysAndTheCopyGoes) {
    QTemporaryDir shm(QStringLiteral("/dev/shm/zapfer-test-XXXXXX"));
    if (!shm.isValid() || !onDifferentFileSystems(m_src, shm.path()))
        GTEST_SKIP() << "/dev/shm is not a file system of its own here";
    ASSERT_TRUE(writeFile(src(QStringLiteral("stuck")), "stuck"));
    std::function<void()> undo;
    if (!makeUndeletable(m_src, QStringLiteral("stuck"), &undo))
        GTEST_SKIP() << "neither an immutable file nor a read-only folder stops deletion here";
    TestProgress progress;
    const OperationResult result =
        MoveSelected(m_src, {QStringLiteral("stuck")}, shm.path(), progress);
    const bool sourceKept = exists(src(QStringLiteral("stuck")));
    undo();
    EXPECT_EQ(result.failed, 1);
    EXPECT_TRUE(sourceKept);
    EXPECT_TRUE(entries(shm.path()).isEmpty());
}
