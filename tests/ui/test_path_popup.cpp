#include "file_list_model.h"
#include "path_popup.h"
#include "popup_driver.h"
#include "window_buttons.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDir>

using namespace zapfer;
using namespace zapfer::test;

namespace {

const QStringList kVolumes = {QStringLiteral("/"), QStringLiteral("/home"),
                              QStringLiteral("/media/usb")};

QStringList texts(const std::vector<PathPopupEntry>& entries) {
    QStringList out;
    for (const PathPopupEntry& e : entries)
        out.append(e.text);
    return out;
}

std::vector<int> numbers(const std::vector<PathPopupEntry>& entries) {
    std::vector<int> out;
    for (const PathPopupEntry& e : entries)
        out.push_back(e.k);
    return out;
}

QStringList destinations(const QString& path, const std::vector<PathPopupEntry>& entries) {
    QStringList out;
    for (const PathPopupEntry& e : entries)
        out.append(ApplyPathPopupChoice(path, e.k, kVolumes));
    return out;
}

TEST(PathPopupEntries, DeepPathIndentsEachLevelAndMarksTheCurrentFolder) {
    const QString path = QStringLiteral("/media/usb/Docs/Work/Old");
    const auto entries = pathPopupEntries(path, kVolumes);
    EXPECT_EQ(texts(entries),
              (QStringList{QStringLiteral("My Computer"), QStringLiteral("/media/usb"),
                           QStringLiteral("  Docs"), QStringLiteral("    Work"),
                           QStringLiteral("    * Old")}));
    EXPECT_EQ(numbers(entries), (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_EQ(
        destinations(path, entries),
        (QStringList{QString(), QStringLiteral("/media/usb"), QStringLiteral("/media/usb/Docs"),
                     QStringLiteral("/media/usb/Docs/Work"), path}));
}

TEST(PathPopupEntries, ShallowPathOnTheRootVolume) {
    const QString path = QStringLiteral("/tmp");
    const auto entries = pathPopupEntries(path, kVolumes);
    EXPECT_EQ(texts(entries), (QStringList{QStringLiteral("My Computer"), QStringLiteral("/"),
                                           QStringLiteral("* tmp")}));
    EXPECT_EQ(numbers(entries), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(destinations(path, entries), (QStringList{QString(), QStringLiteral("/"), path}));
}

TEST(PathPopupEntries, VolumeRootAndDriveView) {
    auto entries = pathPopupEntries(QStringLiteral("/home"), kVolumes);
    EXPECT_EQ(texts(entries),
              (QStringList{QStringLiteral("My Computer"), QStringLiteral("* /home")}));
    EXPECT_EQ(numbers(entries), (std::vector<int>{2, 1}));
    EXPECT_EQ(ApplyPathPopupChoice(QStringLiteral("/home"), 2, kVolumes), QString());
    EXPECT_EQ(ApplyPathPopupChoice(QStringLiteral("/home"), 1, kVolumes), QStringLiteral("/home"));

    entries = pathPopupEntries(QStringLiteral("/"), kVolumes);
    EXPECT_EQ(texts(entries), (QStringList{QStringLiteral("My Computer"), QStringLiteral("* /")}));
    EXPECT_EQ(ApplyPathPopupChoice(QStringLiteral("/"), 2, kVolumes), QString());

    entries = pathPopupEntries(QString(), kVolumes);
    EXPECT_EQ(texts(entries), (QStringList{QStringLiteral("* My Computer")}));
    EXPECT_EQ(numbers(entries), (std::vector<int>{1}));
    EXPECT_EQ(ApplyPathPopupChoice(QString(), 1, kVolumes), QString());
}

TEST(PathPopupEntries, EveryEntryOfAVeryDeepPathLeadsToItsLevel) {
    QString path = QStringLiteral("/home");
    QStringList levels = {path};
    for (int i = 1; i <= 9; ++i) {
        path += QStringLiteral("/L%1").arg(i);
        levels.append(path);
    }
    const auto entries = pathPopupEntries(path, kVolumes);
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries.front().k, 11);
    EXPECT_EQ(entries[5].text, QStringLiteral("        L4"));
    EXPECT_EQ(entries.back().text, QString(16, QLatin1Char(' ')) + QStringLiteral("* L9"));
    EXPECT_EQ(ApplyPathPopupChoice(path, 11, kVolumes), QString());
    for (int k = 1; k <= 10; ++k)
        EXPECT_EQ(ApplyPathPopupChoice(path, k, kVolumes), levels[10 - k]) << k;
    // No entry has a number beyond the popup: nothing happens.
    EXPECT_EQ(ApplyPathPopupChoice(path, 12, kVolumes), path);
}

TEST(PathPopupEntries, TrailingSeparatorNamesTheSameFolder) {
    const QString path = QStringLiteral("/media/usb/Temp/");
    EXPECT_EQ(texts(pathPopupEntries(path, kVolumes)),
              (QStringList{QStringLiteral("My Computer"), QStringLiteral("/media/usb"),
                           QStringLiteral("* Temp")}));
    EXPECT_EQ(ApplyPathPopupChoice(path, 2, kVolumes), QStringLiteral("/media/usb"));
    // A folder beside a volume, not inside it, belongs to the parent volume.
    EXPECT_EQ(volumeRootOf(QStringLiteral("/media/usb2/x"), kVolumes), QStringLiteral("/"));
}

// The real popup under the PathButton, in the main window.
TEST_F(WindowTest, PathPopupEntryGoesUpAndADismissedPopupChangesNothing) {
    const QString deep = m_dir.filePath(QStringLiteral("A/B"));
    ASSERT_TRUE(QDir().mkpath(deep));
    m_settings.curDir = deep;
    // The fixture's volumes are "/" and "/media/usb": the temporary folder is
    // on "/", one level per component.
    const int depth = int(QDir::cleanPath(deep).split(QLatin1Char('/'), Qt::SkipEmptyParts).size());
    MainWindow& w = window();
    ASSERT_TRUE(resizeTo(640, 400));

    QString captionWhileOpen;
    {
        PopupDriver driver([&](QMenu* menu) {
            captionWhileOpen = menusOf(w).pathButton()->caption();
            const int leafDepth = depth - 2;
            return actionNamed(menu, QString(2 * leafDepth, QLatin1Char(' ')) +
                                         QDir(m_dir.path()).dirName());
        });
        command(w, 40019);
        ASSERT_TRUE(driver.seen);
        EXPECT_EQ(driver.texts.last(),
                  QString(2 * (depth - 1), QLatin1Char(' ')) + QStringLiteral("* B"));
    }
    EXPECT_EQ(captionWhileOpen, QStringLiteral("Show"));
    EXPECT_EQ(m_settings.curDir, QDir::cleanPath(m_dir.path()));
    EXPECT_EQ(menusOf(w).pathButton()->caption(), QDir(m_dir.path()).dirName());
    EXPECT_FALSE(menusOf(w).menuBusy());

    {
        PopupDriver driver([](QMenu*) { return nullptr; });
        command(w, 40019);
        ASSERT_TRUE(driver.seen);
    }
    EXPECT_EQ(m_settings.curDir, QDir::cleanPath(m_dir.path()));

    {
        PopupDriver driver(
            [](QMenu* menu) { return actionNamed(menu, QStringLiteral("My Computer")); });
        command(w, 40019);
        ASSERT_TRUE(driver.seen);
    }
    EXPECT_EQ(m_settings.curDir, QString());
    ASSERT_EQ(browserOf(w).model()->rowCount(), 2);
    EXPECT_EQ(menusOf(w).pathButton()->caption(), QStringLiteral("My Computer"));
}

TEST_F(WindowTest, SortPopupMarksTheCurrentKeyAndSortsByTheChosenOne) {
    MainWindow& w = window();
    ASSERT_TRUE(resizeTo(640, 400));
    QString captionWhileOpen;
    {
        PopupDriver driver([&](QMenu* menu) {
            captionWhileOpen = menusOf(w).sortButton()->caption();
            return actionNamed(menu, QStringLiteral("Size"));
        });
        command(w, 40038);
        ASSERT_TRUE(driver.seen);
        EXPECT_EQ(driver.texts, (QStringList{QStringLiteral("* Name"), QStringLiteral("Date"),
                                             QStringLiteral("Size"), QStringLiteral("Type")}));
    }
    EXPECT_EQ(captionWhileOpen, QStringLiteral("Sort By"));
    EXPECT_EQ(m_settings.sort, 2u);
    EXPECT_EQ(menusOf(w).sortButton()->caption(), QStringLiteral("Size"));
    {
        PopupDriver driver([](QMenu*) { return nullptr; });
        command(w, 40038);
        ASSERT_TRUE(driver.seen);
        EXPECT_EQ(driver.texts[2], QStringLiteral("* Size"));
    }
    EXPECT_EQ(m_settings.sort, 2u);
    EXPECT_FALSE(menusOf(w).menuBusy());
}

} // namespace
