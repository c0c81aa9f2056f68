#include "directory_listing.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zapfer;

namespace {

constexpr int64_t kBase = 1600000000; // 2020-09-13 12:26:40 UTC

class ListingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    void makeFolder(const QString& name) { ASSERT_TRUE(QDir(m_dir.path()).mkdir(name)); }

    void makeFile(const QString& name, int64_t size, int64_t mtime = kBase) {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size)); // sparse beyond what is written
        ASSERT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(mtime, Qt::UTC),
                                     QFileDevice::FileModificationTime));
    }

    std::vector<FileRecord> list(uint32_t sort, bool foldersOnly = false) {
        bool ok = false;
        auto records = ListDirectory(m_dir.path(), foldersOnly, sort, {}, &ok);
        EXPECT_TRUE(ok);
        return records;
    }

    static QStringList names(const std::vector<FileRecord>& records) {
        QStringList out;
        for (const FileRecord& r : records)
            out.append(r.name);
        return out;
    }

    QTemporaryDir m_dir;
};

QStringList L(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* item : items)
        out.append(QString::fromUtf8(item));
    return out;
}

TEST_F(ListingTest, FoldersFirstDotFoldersHiddenDotFilesShown) {
    makeFolder(QStringLiteral("beta"));
    makeFolder(QStringLiteral("Alpha"));
    makeFolder(QStringLiteral(".config"));
    makeFile(QStringLiteral("zeta.txt"), 1);
    makeFile(QStringLiteral(".profile"), 2);
    makeFile(QStringLiteral("Mid"), 3);

    const auto records = list(uint32_t(SortKey::Name));
    EXPECT_EQ(names(records), L({"Alpha", "beta", ".profile", "Mid", "zeta.txt"}));
    EXPECT_TRUE(records[0].folder);
    EXPECT_TRUE(records[1].folder);
    EXPECT_FALSE(records[2].folder);
    EXPECT_EQ(records[3].size, 3);

    EXPECT_EQ(names(list(uint32_t(SortKey::Name), true)), L({"Alpha", "beta"}));
}

TEST_F(ListingTest, NamesCompareInFullAndCaseFoldedWithADefinedTieBreak) {
    makeFile(QStringLiteral("report2.txt"), 1);
    makeFile(QStringLiteral("report1.txt"), 1);
    makeFile(QStringLiteral("abc"), 1);
    makeFile(QStringLiteral("ABC"), 1);
    makeFile(QStringLiteral("Abd"), 1);
    EXPECT_EQ(names(list(uint32_t(SortKey::Name))),
              L({"ABC", "abc", "Abd", "report1.txt", "report2.txt"}));
}

TEST_F(ListingTest, DateSortsToTheSecondWithFoldersFirst) {
    makeFolder(QStringLiteral("folder"));
    // All three lie within one 429-second span that a coarse key would merge.
    makeFile(QStringLiteral("c"), 1, kBase + 2);
    makeFile(QStringLiteral("a"), 1, kBase + 1);
    makeFile(QStringLiteral("b"), 1, kBase);
    makeFile(QStringLiteral("old"), 1, kBase - 86400);
    EXPECT_EQ(names(list(uint32_t(SortKey::Date))), L({"folder", "old", "b", "a", "c"}));
}

TEST_F(ListingTest, SizeSortsIn64BitsWithFoldersFirst) {
    makeFolder(QStringLiteral("folder"));
    makeFile(QStringLiteral("small"), 3000);
    makeFile(QStringLiteral("empty"), 0);
    // 4 GiB + 10 bytes: as a 32-bit key it would sort as 10 bytes.
    const int64_t huge = (int64_t(1) << 32) + 10;
    makeFile(QStringLiteral("huge"), huge);
    const auto records = list(uint32_t(SortKey::Size));
    EXPECT_EQ(names(records), L({"folder", "empty", "small", "huge"}));
    EXPECT_EQ(records[3].size, huge);
}

TEST_F(ListingTest, TypeSortsByTheTextAfterTheLastDot) {
    makeFolder(QStringLiteral("plain"));
    makeFolder(QStringLiteral("pics.d"));
    makeFile(QStringLiteral("README"), 1);
    makeFile(QStringLiteral("archive.tar.gz"), 1);
    makeFile(QStringLiteral("notes.txt"), 1);
    makeFile(QStringLiteral("LOUD.TXT"), 1);
    makeFile(QStringLiteral("a.txt"), 1);
    // No dot first (folders before files among them), then "TXT" < "d" <
    // "gz" < "txt": types compare exactly, so TXT and txt stay apart.
    EXPECT_EQ(names(list(uint32_t(SortKey::Type))),
              L({"plain", "README", "LOUD.TXT", "pics.d", "archive.tar.gz", "a.txt", "notes.txt"}));
}

TEST_F(ListingTest, AStoredSortKeyOutOfRangeSortsByName) {
    makeFile(QStringLiteral("b"), 5);
    makeFile(QStringLiteral("a"), 9);
    makeFolder(QStringLiteral("z"));
    EXPECT_EQ(names(list(7)), L({"z", "a", "b"}));
}

TEST_F(ListingTest, NoRowLimit) {
    for (int i = 0; i < 2100; ++i)
        makeFile(QStringLiteral("f%1").arg(i, 5, 10, QLatin1Char('0')), 0);
    const auto records = list(uint32_t(SortKey::Name));
    ASSERT_EQ(records.size(), 2100u);
    EXPECT_EQ(records.back().name, QStringLiteral("f02099"));
}

TEST_F(ListingTest, LinksAreListedAsWhatTheyPointTo) {
    makeFolder(QStringLiteral("real"));
    makeFile(QStringLiteral("data"), 7);
    ASSERT_TRUE(QFile::link(m_dir.filePath(QStringLiteral("real")),
                            m_dir.filePath(QStringLiteral("toReal"))));
    ASSERT_TRUE(QFile::link(m_dir.filePath(QStringLiteral("data")),
                            m_dir.filePath(QStringLiteral("toData"))));
    ASSERT_TRUE(QFile::link(m_dir.filePath(QStringLiteral("gone")),
                            m_dir.filePath(QStringLiteral("dangling"))));
    const auto records = list(uint32_t(SortKey::Name));
    EXPECT_EQ(names(records), L({"real", "toReal", "dangling", "data", "toData"}));
    EXPECT_EQ(records[4].size, 7);
    EXPECT_EQ(records[2].size, 0);
}

TEST(Listing, MissingFolderGivesAnEmptyListAndSaysSo) {
    QTemporaryDir dir;
    bool ok = true;
    EXPECT_TRUE(ListDirectory(dir.filePath(QStringLiteral("nope")), false, 0, {}, &ok).empty());
    EXPECT_FALSE(ok);
}

TEST(Listing, VolumeViewKeepsVolumeOrderUnderEveryKey) {
    const QStringList volumes = L({"/", "/mnt/zdata", "/home", "/media/a b"});
    for (uint32_t sort = 0; sort < 5; ++sort) {
        bool ok = false;
        const auto records = ListDirectory(QString(), false, sort, volumes, &ok);
        EXPECT_TRUE(ok);
        ASSERT_EQ(records.size(), 4u) << sort;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].name, volumes[int(i)]) << sort;
            EXPECT_TRUE(records[i].volume && records[i].folder);
        }
    }
}

TEST(Listing, JoinPathNeverDoublesTheSeparator) {
    EXPECT_EQ(joinPath(QStringLiteral("/"), QStringLiteral("etc")), QStringLiteral("/etc"));
    EXPECT_EQ(joinPath(QStringLiteral("/home/u"), QStringLiteral("a")),
              QStringLiteral("/home/u/a"));
}

} // namespace
