#include "delete_files.h"
#include "file_tree.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

const QString kFinal =
    QStringLiteral("\n\nThis cannot be undone: nothing is moved to a trash folder.");

class DeleteFiles : public TempFolderTest {
protected:
    bool mkdir(const QString& relative) const { return QDir().mkpath(path(relative)); }
};

// Creates `depth` nested folders "d" below `top` with one file in each,
// without ever naming a path longer than one component.
bool makeDeepTree(const QString& top, int depth) {
    int fd = open(QFile::encodeName(top).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; fd >= 0 && level < depth; ++level) {
        const int file = openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (file < 0 || close(file) != 0 || mkdirat(fd, "d", 0755) != 0) {
            close(fd);
            return false;
        }
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    return fd >= 0 && close(fd) == 0;
}

} // namespace

TEST_F(DeleteFiles, QuestionsNameTheItemOrCountAndSayDeletionIsFinal) {
    ASSERT_TRUE(writeFile(path(QStringLiteral("notes.txt"))));
    ASSERT_TRUE(mkdir(QStringLiteral("Photos")));
    ASSERT_EQ(symlink(QFile::encodeName(path(QStringLiteral("Photos"))).constData(),
                      QFile::encodeName(path(QStringLiteral("link"))).constData()),
              0);

    UserMessage q = deleteQuestion(m_root, {QStringLiteral("notes.txt")});
    EXPECT_EQ(q.text, QStringLiteral("Are you sure you want to delete 'notes.txt'?") + kFinal);
    EXPECT_EQ(q.caption, QStringLiteral("Delete File(s)"));

    q = deleteQuestion(m_root, {QStringLiteral("Photos")});
    EXPECT_EQ(q.text, QStringLiteral("Are you sure you want to remove the folder 'Photos' and all "
                                     "of its contents?") +
                          kFinal);
    EXPECT_EQ(q.caption, QStringLiteral("Confirm Folder Delete"));

    // Only the link goes, so it is asked about as a file.
    q = deleteQuestion(m_root, {QStringLiteral("link")});
    EXPECT_EQ(q.caption, QStringLiteral("Delete File(s)"));

    // An item that cannot be examined is asked about as a folder.
    q = deleteQuestion(m_root, {QStringLiteral("gone")});
    EXPECT_EQ(q.caption, QStringLiteral("Confirm Folder Delete"));

    q = deleteQuestion(
        m_root, {QStringLiteral("notes.txt"), QStringLiteral("Photos"), QStringLiteral("link")});
    EXPECT_EQ(q.text, QStringLiteral("Are you sure you want to delete these 3 items?") + kFinal);
    EXPECT_EQ(q.caption, QStringLiteral("Confirm Multiple File Delete"));

    q = deleteQuestion(m_root, {});
    EXPECT_EQ(q.text, QStringLiteral("Are you sure you want to delete these 0 items?") + kFinal);
    EXPECT_EQ(q.caption, QStringLiteral("Confirm Multiple File Delete"));
}

TEST_F(DeleteFiles, AsksOnlyWhenPromptIsOnAndGoesAheadOnlyOnYes) {
    const QStringList names = {QStringLiteral("a"), QStringLiteral("b")};
    int asked = 0;
    QString caption;
    const auto answer = [&](bool yes) {
        return [&, yes](const UserMessage& q) {
            ++asked;
            caption = q.caption;
            return yes;
        };
    };
    EXPECT_FALSE(confirmDeletion(m_root, names, true, answer(false)));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(caption, QStringLiteral("Confirm Multiple File Delete"));
    EXPECT_TRUE(confirmDeletion(m_root, names, true, answer(true)));
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(confirmDeletion(m_root, names, false, answer(false)));
    EXPECT_EQ(asked, 2);
}

TEST_F(DeleteFiles, UndeletableFileKeepsItsFoldersAndTheRestGoes) {
    ASSERT_TRUE(mkdir(QStringLiteral("top/locked")));
    ASSERT_TRUE(mkdir(QStringLiteral("top/free/inner")));
    ASSERT_TRUE(writeFile(path(QStringLiteral("top/a.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("top/locked/keep.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("top/free/inner/b.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("loose.txt"))));
    std::function<void()> undo;
    if (!makeUndeletable(path(QStringLiteral("top/locked")), QStringLiteral("keep.txt"), &undo))
        GTEST_SKIP() << "neither an immutable file nor a read-only folder stops deletion here";

    TestProgress progress;
    const OperationResult result =
        DeleteSelected(m_root, {QStringLiteral("top"), QStringLiteral("loose.txt")}, progress);
    const bool keptFile = exists(path(QStringLiteral("top/locked/keep.txt")));
    undo();

    EXPECT_EQ(result.requested, 2);
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_EQ(result.failed, 1);
    EXPECT_TRUE(result.anyFailed());
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(keptFile);
    EXPECT_FALSE(exists(path(QStringLiteral("top/a.txt"))));
    EXPECT_FALSE(exists(path(QStringLiteral("top/free"))));
    EXPECT_FALSE(exists(path(QStringLiteral("loose.txt"))));
    EXPECT_EQ(progress.done(), 2);

    const UserMessage message = deleteFailureMessage();
    EXPECT_EQ(message.text, QStringLiteral("Not all of the files were deleted successfully"));
    EXPECT_EQ(message.caption, QStringLiteral("Delete File(s)"));
}

TEST_F(DeleteFiles, AReadOnlyFileIsKeptAtTheTopAndInsideFolders) {
    ASSERT_TRUE(mkdir(QStringLiteral("top/inner")));
    ASSERT_TRUE(writeFile(path(QStringLiteral("top/inner/kept.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("top/inner/gone.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("top/gone.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("locked.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("loose.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("target.txt"))));
    ASSERT_EQ(::symlink("target.txt", QFile::encodeName(path(QStringLiteral("link"))).constData()),
              0);
    // Read-only as File Properties makes it, and one only its owner could
    // not write: a write bit for anyone is enough to delete.
    ASSERT_EQ(
        ::chmod(QFile::encodeName(path(QStringLiteral("top/inner/kept.txt"))).constData(), 0444),
        0);
    ASSERT_EQ(::chmod(QFile::encodeName(path(QStringLiteral("locked.txt"))).constData(), 0400), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path(QStringLiteral("loose.txt"))).constData(), 0464), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path(QStringLiteral("target.txt"))).constData(), 0444), 0);

    TestProgress progress;
    const OperationResult result =
        DeleteSelected(m_root,
                       {QStringLiteral("top"), QStringLiteral("locked.txt"),
                        QStringLiteral("loose.txt"), QStringLiteral("link")},
                       progress);
    EXPECT_EQ(result.requested, 4);
    EXPECT_EQ(result.succeeded, 2);
    EXPECT_EQ(result.failed, 2);
    EXPECT_TRUE(exists(path(QStringLiteral("top/inner/kept.txt"))));
    EXPECT_FALSE(exists(path(QStringLiteral("top/inner/gone.txt"))));
    EXPECT_FALSE(exists(path(QStringLiteral("top/gone.txt"))));
    EXPECT_TRUE(exists(path(QStringLiteral("locked.txt"))));
    EXPECT_FALSE(exists(path(QStringLiteral("loose.txt"))));
    // A link has no mode of its own: it goes, its read-only target stays.
    EXPECT_FALSE(exists(path(QStringLiteral("link"))));
    EXPECT_TRUE(exists(path(QStringLiteral("target.txt"))));

    TestProgress again;
    EXPECT_EQ(DeleteFolderTree(path(QStringLiteral("top")), again), TreeDeletion::Failed);
    EXPECT_TRUE(exists(path(QStringLiteral("top/inner/kept.txt"))));
    // Made writable again, it can go.
    ASSERT_EQ(
        ::chmod(QFile::encodeName(path(QStringLiteral("top/inner/kept.txt"))).constData(), 0644),
        0);
    EXPECT_EQ(DeleteFolderTree(path(QStringLiteral("top")), again), TreeDeletion::Deleted);
}

TEST_F(DeleteFiles, TreesOfAnyDepthAreDeleted) {
    for (const int depth : {1, 30, 3000}) {
        SCOPED_TRACE(depth);
        ASSERT_TRUE(mkdir(QStringLiteral("tree")));
        ASSERT_TRUE(makeDeepTree(path(QStringLiteral("tree")), depth));
        TestProgress progress;
        EXPECT_EQ(DeleteFolderTree(path(QStringLiteral("tree")), progress), TreeDeletion::Deleted);
        EXPECT_FALSE(exists(path(QStringLiteral("tree"))));
    }
    // 3000 levels of "d/" are far beyond what one path may name.
    static_assert(3000 * 2 > PATH_MAX);
}

TEST_F(DeleteFiles, UndeletableFileDeepDownEndsTheDeletionWithAFailure) {
    // Deeper than the folders kept open at once: the folders above the file
    // are read again, and the file must not be tried for ever.
    ASSERT_TRUE(mkdir(QStringLiteral("tree")));
    ASSERT_TRUE(makeDeepTree(path(QStringLiteral("tree")), 150));
    QString folder = path(QStringLiteral("tree"));
    for (int level = 0; level < 100; ++level)
        folder += QStringLiteral("/d");
    std::function<void()> undo;
    if (!makeUndeletable(folder, QStringLiteral("f"), &undo))
        GTEST_SKIP() << "neither an immutable file nor a read-only folder stops deletion here";
    TestProgress progress;
    const TreeDeletion outcome = DeleteFolderTree(path(QStringLiteral("tree")), progress);
    const bool kept = exists(folder + QStringLiteral("/f"));
    const bool belowGone = !exists(folder + QStringLiteral("/d"));
    undo();
    EXPECT_EQ(outcome, TreeDeletion::Failed);
    EXPECT_TRUE(kept);
    EXPECT_TRUE(belowGone || geteuid() != 0); // without root the read-only folder keeps "d" too
    EXPECT_FALSE(exists(path(QStringLiteral("tree/f"))));
}

TEST_F(DeleteFiles, LinksInsideAreRemovedAsLinksAndTheirTargetsStay) {
    ASSERT_TRUE(mkdir(QStringLiteral("outside/folder")));
    ASSERT_TRUE(writeFile(path(QStringLiteral("outside/folder/precious.txt"))));
    ASSERT_TRUE(writeFile(path(QStringLiteral("outside/file.txt"))));
    ASSERT_TRUE(mkdir(QStringLiteral("doomed/sub")));
    ASSERT_EQ(symlink(QFile::encodeName(path(QStringLiteral("outside/folder"))).constData(),
                      QFile::encodeName(path(QStringLiteral("doomed/sub/to-folder"))).constData()),
              0);
    ASSERT_EQ(symlink(QFile::encodeName(path(QStringLiteral("outside/file.txt"))).constData(),
                      QFile::encodeName(path(QStringLiteral("doomed/to-file"))).constData()),
              0);
    // A link given as the item itself goes as a link too.
    ASSERT_EQ(symlink(QFile::encodeName(path(QStringLiteral("outside/folder"))).constData(),
                      QFile::encodeName(path(QStringLiteral("top-link"))).constData()),
              0);

    TestProgress progress;
    const OperationResult result =
        DeleteSelected(m_root, {QStringLiteral("doomed"), QStringLiteral("top-link")}, progress);
    EXPECT_EQ(result.succeeded, 2);
    EXPECT_FALSE(exists(path(QStringLiteral("doomed"))));
    EXPECT_FALSE(exists(path(QStringLiteral("top-link"))));
    EXPECT_TRUE(exists(path(QStringLiteral("outside/folder/precious.txt"))));
    EXPECT_TRUE(exists(path(QStringLiteral("outside/file.txt"))));
}

TEST_F(DeleteFiles, EmptyFolderGoesAndNothingOutsideTheFolderShownIsTouched) {
    ASSERT_TRUE(mkdir(QStringLiteral("shown/empty")));
    ASSERT_TRUE(writeFile(path(QStringLiteral("sibling.txt"))));
    TestProgress progress;
    OperationResult result =
        DeleteSelected(path(QStringLiteral("shown")), {QStringLiteral("empty")}, progress);
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_FALSE(exists(path(QStringLiteral("shown/empty"))));

    // Names that are not one component of the folder shown are refused.
    result = DeleteSelected(path(QStringLiteral("shown")),
                            {QStringLiteral(".."), QStringLiteral("../sibling.txt"), QString()},
                            progress);
    EXPECT_EQ(result.failed, 3);
    EXPECT_TRUE(exists(path(QStringLiteral("sibling.txt"))));

    // The "My Computer" view lists mount points: they are never deleted.
    result = DeleteSelected(QString(), {m_root}, progress);
    EXPECT_EQ(result.failed, 1);
    EXPECT_TRUE(exists(path(QStringLiteral("sibling.txt"))));

    // No selection: nothing to do and nothing failed.
    result = DeleteSelected(m_root, {}, progress);
    EXPECT_EQ(result.requested, 0);
    EXPECT_FALSE(result.anyFailed());
}

TEST_F(DeleteFiles, CancelStopsBetweenItemsAndLeavesTheRestUntouched) {
    for (const char* name : {"one", "two", "three"})
        ASSERT_TRUE(writeFile(path(QLatin1String(name))));
    TestProgress progress(1); // cancelled once one item is done
    const OperationResult result = DeleteSelected(
        m_root, {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}, progress);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.succeeded, 1);
    EXPECT_EQ(result.failed, 0);
    EXPECT_FALSE(exists(path(QStringLiteral("one"))));
    EXPECT_TRUE(exists(path(QStringLiteral("two"))));
    EXPECT_TRUE(exists(path(QStringLiteral("three"))));
}
