// The main window with its path popup and sort popup open at once, taken
// from the screen of a real X server (Xvfb): popups are windows of their
// own, so only the screen shows them together with the window. The picture
// is written for a person to look at, not compared.

#include "main_window.h"
#include "path_popup.h"
#include "window_buttons.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QScreen>

#include <iostream>

#include <memory>

using namespace zapfer;
using namespace zapfer::test;

namespace {

TEST_F(WindowTest, BothPopupsOpenOverTheWindowRender) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "needs an X server (run under xvfb-run), platform is "
                     << QGuiApplication::platformName().toStdString();
    const QString sub = m_dir.filePath(QStringLiteral("Pictures/Holiday"));
    ASSERT_TRUE(QDir().mkpath(sub));
    ASSERT_TRUE(QDir(sub).mkdir(QStringLiteral("Beach")));
    for (int i = 0; i < 4; ++i) {
        QFile f(QDir(sub).filePath(QStringLiteral("photo_%1.jpg").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(120000 * (i + 1)));
    }
    m_settings.curDir = sub;
    m_settings.sort = 2;
    MainWindow& w = window();
    w.move(0, 0);
    ASSERT_TRUE(resizeTo(760, 420));
    w.addPaths({QDir(sub).filePath(QStringLiteral("photo_1.jpg"))});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));

    menusOf(w).setPathPopupOpen(true);
    menusOf(w).setSortPopupOpen(true);
    const std::unique_ptr<QMenu> pathPopup(makePathPopupMenu(&w, sub, browserOf(w).volumes()));
    const std::unique_ptr<QMenu> sortPopup(menusOf(w).makeSortPopup(&w));
    pathPopup->popup(menusOf(w).pathButton()->mapToGlobal(QPoint(0, menusOf(w).pathButton()->height())));
    sortPopup->popup(menusOf(w).sortPopupPosition(sortPopup.get()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return pathPopup->isVisible() && sortPopup->isVisible() &&
                   QTest::qWaitForWindowExposed(sortPopup.get(), 10);
        },
        5000));
    QTest::qWait(200); // let the X server draw the exposed popups

    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QImage shot = screen->grabWindow(0).toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), screen->size() * screen->devicePixelRatio());
    // Something was drawn: the picture is not one flat colour.
    const QRect area = QRect(QPoint(0, 0), w.size()).intersected(shot.rect());
    bool varied = false;
    const QRgb first = shot.pixel(area.topLeft());
    for (int y = area.top(); y <= area.bottom() && !varied; y += 3)
        for (int x = area.left(); x <= area.right() && !varied; x += 3)
            varied = shot.pixel(x, y) != first;
    EXPECT_TRUE(varied);

    QString dir = qEnvironmentVariable("ZAPFER_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(ZAPFER_SCREENSHOT_DEFAULT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString file = QDir(dir).filePath(QStringLiteral("window_with_popups.png"));
    EXPECT_TRUE(shot.save(file)) << file.toStdString();
    std::cout << "screenshot: " << file.toStdString() << std::endl;

    pathPopup->close();
    sortPopup->close();
    menusOf(w).setPathPopupOpen(false);
    menusOf(w).setSortPopupOpen(false);
    EXPECT_EQ(menusOf(w).pathButton()->caption(), QStringLiteral("Holiday"));
    EXPECT_EQ(menusOf(w).sortButton()->caption(), QStringLiteral("Size"));
}

} // namespace
