#include "file_properties.h"
#include "file_tree.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zapfer;
using namespace zapfer::test;

namespace {

using FilePropertiesTest = TempFolderTest;

int64_t localSeconds(int year, int month, int day, int hour, int minute, int second) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

} // namespace

TEST_F(FilePropertiesTest, SizeAndTimesAreShownInFull) {
    const QString big = path(QStringLiteral("big.img"));
    ASSERT_TRUE(writeFile(big, QByteArray()));
    ASSERT_EQ(truncate(QFile::encodeName(big).constData(), 3'000'000'000), 0);
    ASSERT_TRUE(setModified(big, localSeconds(2001, 5, 9, 14, 5, 9)));

    const FileProperties p = readFileProperties(m_root, QStringLiteral("big.img"));
    ASSERT_TRUE(p.found);
    EXPECT_FALSE(p.folder);
    EXPECT_EQ(sizeText(p), QStringLiteral("3000000000 Bytes"));
    EXPECT_EQ(timeText(p.modified), QStringLiteral("05/09/2001 14:05:09"));
    EXPECT_EQ(timeText(p.accessed), QStringLiteral("05/09/2001 14:05:09"));
    const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d$"));
    if (p.hasBirthTime)
        EXPECT_TRUE(stamp.match(createdText(p)).hasMatch()) << createdText(p).toStdString();
    else
        EXPECT_EQ(createdText(p), QStringLiteral("Unavailable"));
}

TEST_F(FilePropertiesTest, FoldersHiddenNamesAndMissingEntries) {
    ASSERT_TRUE(QDir(m_root).mkdir(QStringLiteral(".config")));
    FileProperties p = readFileProperties(m_root + QLatin1Char('/'), QStringLiteral(".config"));
    ASSERT_TRUE(p.found);
    EXPECT_TRUE(p.folder);
    EXPECT_EQ(sizeText(p), QStringLiteral("0 Bytes"));
    EXPECT_TRUE(p.hidden());

    ASSERT_TRUE(writeFile(path(QStringLiteral("visible"))));
    EXPECT_FALSE(readFileProperties(m_root, QStringLiteral("visible")).hidden());

    p = readFileProperties(m_root, QStringLiteral("missing"));
    EXPECT_FALSE(p.found);
    EXPECT_TRUE(applyReadOnly(m_root, p, true));
    EXPECT_FALSE(exists(path(QStringLiteral("missing"))));
}

TEST_F(FilePropertiesTest, ReadonlyBoxClearsEveryWriteBitAndGivesTheOwnerItBack) {
    const QString file = path(QStringLiteral("doc.txt"));
    ASSERT_TRUE(writeFile(file));
    ASSERT_EQ(chmod(QFile::encodeName(file).constData(), 0664), 0);

    FileProperties p = readFileProperties(m_root, QStringLiteral("doc.txt"));
    EXPECT_FALSE(p.readOnly());
    EXPECT_TRUE(applyReadOnly(m_root, p, true));
    EXPECT_EQ(permissions(file), mode_t(0444));

    p = readFileProperties(m_root, QStringLiteral("doc.txt"));
    EXPECT_TRUE(p.readOnly());
    EXPECT_TRUE(applyReadOnly(m_root, p, false));
    EXPECT_EQ(permissions(file), mode_t(0644));

    // An unchanged box writes nothing, even where other bits differ.
    ASSERT_EQ(chmod(QFile::encodeName(file).constData(), 0600), 0);
    p = readFileProperties(m_root, QStringLiteral("doc.txt"));
    ASSERT_EQ(chmod(QFile::encodeName(file).constData(), 0640), 0);
    EXPECT_TRUE(applyReadOnly(m_root, p, false));
    EXPECT_EQ(permissions(file), mode_t(0640));
}
