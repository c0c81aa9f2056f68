#include "button_captions.h"
#include "control_ids.h"
#include "glyphs.h"
#include "window_buttons.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTreeView>

using namespace zapfer;
using namespace zapfer::test;

namespace {

struct Expected {
    QRect fileList, sendList, pathButton, sortButton, statusLine;
    std::array<QPoint, 7> buttons;
};

Expected landscape(int cx, int cy) {
    const int h = cx / 2;
    Expected e{QRect(0, 21, h - 20, cy - 21), QRect(h + 20, 21, h - 20, cy - 21),
               QRect(0, 0, h - 90, 21),       QRect(h - 90, 0, 70, 21),
               QRect(h + 20, 0, h - 20, 21),  {}};
    for (int i = 0; i < 7; ++i)
        e.buttons[size_t(i)] = QPoint(h - 16, 2 + 36 * i);
    return e;
}

Expected portrait(int cx, int cy, int m, int step) {
    const int v = cy / 2 - m;
    Expected e{QRect(0, 21, cx, v - 2),  QRect(0, v + 69, cx, cy - cy / 2 + m - 69),
               QRect(0, 0, cx - 70, 21), QRect(cx - 70, 0, 70, 21),
               QRect(0, v + 53, cx, 16), {}};
    for (int i = 0; i < 7; ++i)
        e.buttons[size_t(i)] = QPoint(i * step, v + 21);
    return e;
}

class LayoutTest : public WindowTest {
protected:
    void expectLayout(const Expected& e, int cx) {
        MainWindow& w = window();
        EXPECT_EQ(browserOf(w).fileList()->geometry(), e.fileList) << cx;
        EXPECT_EQ(sendListOf(w).view()->geometry(), e.sendList) << cx;
        EXPECT_EQ(menusOf(w).pathButton()->geometry(), e.pathButton) << cx;
        EXPECT_EQ(menusOf(w).sortButton()->geometry(), e.sortButton) << cx;
        EXPECT_EQ(statusLineOf(w)->geometry(), e.statusLine) << cx;
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(commandButtonOf(w, i)->geometry(), QRect(e.buttons[size_t(i)], QSize(32, 32)))
                << cx << " button " << i;
        const int c = cx - 40;
        EXPECT_EQ(browserOf(w).fileList()->columnWidth(0), c / 4 + 26) << cx;
        EXPECT_EQ(browserOf(w).fileList()->columnWidth(1), std::max(c / 8 - 22, 0)) << cx;
        EXPECT_EQ(browserOf(w).fileList()->columnWidth(2), c / 8 - 9) << cx;
        EXPECT_EQ(sendListOf(w).view()->columnWidth(0), c / 3) << cx;
        EXPECT_EQ(sendListOf(w).view()->columnWidth(1), c / 6 - 4) << cx;
        EXPECT_EQ(sendListOf(w).view()->columnWidth(2), 1) << cx;
    }
};

TEST_F(LayoutTest, WiderThan320IsLandscape) {
    ASSERT_TRUE(resizeTo(321, 480));
    expectLayout(landscape(321, 480), 321);
    ASSERT_TRUE(resizeTo(800, 301));
    expectLayout(landscape(800, 301), 800);
}

TEST_F(LayoutTest, At320AndBelowIsPortraitWithTruncatedButtonSteps) {
    const int m = window().menuBarHeight();
    ASSERT_GT(m, 0);
    ASSERT_TRUE(resizeTo(320, 480));
    expectLayout(portrait(320, 480, m, 44), 320);
    // (220 - 224) / 8 truncates toward zero: the step stays 32.
    ASSERT_TRUE(resizeTo(220, 401));
    expectLayout(portrait(220, 401, m, 32), 220);
    // At 216 the step falls to 31 and the buttons overlap.
    ASSERT_TRUE(resizeTo(216, 400));
    expectLayout(portrait(216, 400, m, 31), 216);
}

TEST_F(LayoutTest, ChildrenCarryTheirNumbersAndTheButtonsTheirOrder) {
    MainWindow& w = window();
    EXPECT_EQ(w.findChild<QWidget*>(QStringLiteral("4")), browserOf(w).fileList());
    EXPECT_EQ(w.findChild<QWidget*>(QStringLiteral("5")), sendListOf(w).view());
    EXPECT_EQ(w.findChild<QWidget*>(QStringLiteral("1001")), statusLineOf(w));
    EXPECT_EQ(w.findChild<QWidget*>(QStringLiteral("40019")), menusOf(w).pathButton());
    EXPECT_EQ(w.findChild<QWidget*>(QStringLiteral("40038")), menusOf(w).sortButton());
    const int order[] = {40026, 40021, 40017, 40008, 40003, 40032, 40009};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(commandButtonOf(w, i)->commandId(), order[i]);
        EXPECT_EQ(commandButtonOf(w, i)->shownGlyph(), i);
    }
}

TEST_F(LayoutTest, WithoutALinkTheSendButtonShowsTheCrossedOutBeamUnpressed) {
    MainWindow& w = window();
    w.openLink(); // no engine: nothing can send
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Zapfer - LAN"));
    CommandButton* send = commandButtonOf(w, 2);
    EXPECT_FALSE(send->isEnabled());
    send->setDown(true);
    EXPECT_EQ(send->shownGlyph(), kDisabledGlyph);
    EXPECT_FALSE(send->shownPressed());
    CommandButton* add = commandButtonOf(w, 0);
    add->setDown(true);
    EXPECT_TRUE(add->shownPressed());
    EXPECT_EQ(add->shownGlyph(), 0);
}

TEST(Captions, PathButton) {
    const QStringList volumes = {QStringLiteral("/"), QStringLiteral("/media/usb")};
    EXPECT_EQ(pathButtonCaption(QString(), false, volumes), QStringLiteral("My Computer"));
    EXPECT_EQ(pathButtonCaption(QString(), true, volumes), QStringLiteral("My Computer"));
    EXPECT_EQ(pathButtonCaption(QStringLiteral("/"), false, volumes), QStringLiteral("/"));
    EXPECT_EQ(pathButtonCaption(QStringLiteral("/media/usb"), false, volumes),
              QStringLiteral("/media/usb"));
    EXPECT_EQ(pathButtonCaption(QStringLiteral("/media/usb/Temp/Sub"), false, volumes),
              QStringLiteral("Sub"));
    EXPECT_EQ(pathButtonCaption(QStringLiteral("/home/u/Sub"), true, volumes),
              QStringLiteral("Show"));
    EXPECT_EQ(pathButtonCaption(QStringLiteral("/media/usb"), true, volumes),
              QStringLiteral("Show"));
}

TEST(Captions, SortButton) {
    EXPECT_EQ(sortButtonCaption(0, false), QStringLiteral("Name"));
    EXPECT_EQ(sortButtonCaption(1, false), QStringLiteral("Date"));
    EXPECT_EQ(sortButtonCaption(2, false), QStringLiteral("Size"));
    EXPECT_EQ(sortButtonCaption(3, false), QStringLiteral("Type"));
    EXPECT_EQ(sortButtonCaption(7, false), QStringLiteral("Name"));
    EXPECT_EQ(sortButtonCaption(2, true), QStringLiteral("Sort By"));
}

TEST_F(WindowTest, ButtonsFollowTheFolderTheSortAndThePopups) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Sub")));
    MainWindow& w = window();
    const QString leaf = QDir(m_dir.path()).dirName();
    EXPECT_EQ(menusOf(w).pathButton()->caption(), leaf);
    menusOf(w).setPathPopupOpen(true);
    EXPECT_EQ(menusOf(w).pathButton()->caption(), QStringLiteral("Show"));
    EXPECT_TRUE(m_settings.pathPopupOpen);
    menusOf(w).setPathPopupOpen(false);
    EXPECT_EQ(menusOf(w).pathButton()->caption(), leaf);

    browserOf(w).setSort(3);
    EXPECT_EQ(menusOf(w).sortButton()->caption(), QStringLiteral("Type"));
    EXPECT_EQ(m_settings.sort, 3u);
    menusOf(w).setSortPopupOpen(true);
    EXPECT_EQ(menusOf(w).sortButton()->caption(), QStringLiteral("Sort By"));
    menusOf(w).setSortPopupOpen(false);

    m_settings.curDir.clear();
    browserOf(w).listCurDir();
    EXPECT_EQ(menusOf(w).pathButton()->caption(), QStringLiteral("My Computer"));
}

TEST_F(WindowTest, StatusLineShowsTheSendListTotals) {
    MainWindow& w = window();
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 0  Bytes: 0"));
    QStringList paths;
    for (int size : {1000, 2000, 3000}) {
        const QString path = m_dir.filePath(QStringLiteral("f%1").arg(size));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        paths.append(path);
    }
    // A folder, a missing file and a name already queued (in another case)
    // add nothing.
    paths << m_dir.path() << m_dir.filePath(QStringLiteral("missing"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("other")));
    QFile twin(m_dir.filePath(QStringLiteral("other/F1000")));
    ASSERT_TRUE(twin.open(QIODevice::WriteOnly));
    paths << twin.fileName();
    EXPECT_EQ(w.addPaths(paths), 3);
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 3  Bytes: 5.8K"));
    EXPECT_EQ(sendListOf(w).model()->paths().first(), m_dir.filePath(QStringLiteral("f3000")));

    selectSendListRow(w, 1);
    command(w, id::RemoveFromSendList);
    ASSERT_EQ(sendListOf(w).model()->fileCount(), 2);
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 2  Bytes: 3.9K"));
}

// Not a check: writes the window's pictures for a person to look at.
TEST_F(WindowTest, Screenshot) {
    const QString dir = qEnvironmentVariable("ZAPFER_SCREENSHOT_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "set ZAPFER_SCREENSHOT_DIR to write screenshots";
    for (const char* name : {"Documents", "Music", ".cache"})
        QDir(m_dir.path()).mkdir(QString::fromLatin1(name));
    for (int i = 0; i < 5; ++i) {
        QFile f(m_dir.filePath(QStringLiteral("photo_%1.jpg").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(150000 * (i + 1)));
    }
    MainWindow& w = window();
    browserOf(w).listCurDir();
    w.addPaths({m_dir.filePath(QStringLiteral("photo_1.jpg")),
                m_dir.filePath(QStringLiteral("photo_3.jpg"))});
    ASSERT_TRUE(resizeTo(760, 420));
    EXPECT_TRUE(w.grab().save(dir + QStringLiteral("/landscape.png")));
    ASSERT_TRUE(resizeTo(300, 520));
    EXPECT_TRUE(w.grab().save(dir + QStringLiteral("/portrait.png")));
}

} // namespace

namespace {

TEST_F(WindowTest, HandOversNeverTakeTheSendListPast100Files) {
    QStringList paths;
    for (int i = 0; i < 102; ++i) {
        const QString path = m_dir.filePath(QStringLiteral("n%1").arg(i));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        paths.append(path);
    }
    MainWindow& w = window();
    EXPECT_EQ(w.addPaths(paths), 100);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 100);
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 100  Bytes: 0"));
    const auto boxes = w.findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.first()->text(),
              QStringLiteral("A maximum of 100 files can be sent at one time."));
}

} // namespace
