// The window as a person sees it, at the screen's scale (run once at
// QT_SCALE_FACTOR=2): drawn at the full device resolution, its glyphs finer
// than a scaled-up picture would be. With ZAPFER_SCREENSHOT_DIR set, the
// pictures are written there, in English and in German, for a person to
// look at; they are not compared.

#include "translator_scope.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class DesktopScreenshot : public WindowTest {
protected:
    void fill() {
        for (const char* name : {"holiday.jpg", "letter.odt", "notes.txt", "report.pdf"}) {
            QFile f(m_dir.filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_TRUE(f.resize(48000));
        }
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Pictures")));
    }

    // The window drawn into a picture at the screen's device pixel ratio.
    QImage shoot(const QString& name) {
        MainWindow& w = window();
        w.addPaths({m_dir.filePath(QStringLiteral("report.pdf")),
                    m_dir.filePath(QStringLiteral("notes.txt"))});
        EXPECT_TRUE(resizeTo(760, 480));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
        const QImage image = w.grab().toImage();
        const QString dir = qEnvironmentVariable("ZAPFER_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            QDir().mkpath(dir);
            EXPECT_TRUE(image.save(QDir(dir).filePath(name)));
        }
        return image;
    }
};

TEST_F(DesktopScreenshot, TheWindowIsDrawnAtTheScreensResolution) {
    fill();
    const qreal ratio = window().devicePixelRatioF();
    const int scale = qRound(ratio);
    const QImage image = shoot(QStringLiteral("desk-scale%1.png").arg(scale));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(760, 480) * ratio);
}

// A command button drawn at twice the resolution holds detail that its
// picture at the single resolution, scaled up, does not: its glyphs are
// drawn for the device, not enlarged.
TEST_F(DesktopScreenshot, GlyphsAreDrawnForTheDeviceNotEnlarged) {
    CommandButton* send = commandButtonOf(window(), 2);
    ASSERT_NE(send, nullptr);
    const auto render = [send](qreal ratio) {
        QPixmap pixmap(QSize(32, 32) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::white);
        send->render(&pixmap);
        return pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QImage fine = render(2.0);
    const QImage coarse = render(1.0).scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    ASSERT_EQ(fine.size(), QSize(64, 64));
    int differing = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            differing += fine.pixel(x, y) != coarse.pixel(x, y) ? 1 : 0;
    EXPECT_GT(differing, 100);
}

TEST_F(DesktopScreenshot, TheWindowInGerman) {
    TranslatorScope german(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_TRUE(german.found());
    fill();
    const int scale = qRound(window().devicePixelRatioF());
    const QImage image = shoot(scale == 1 ? QStringLiteral("desk-german.png")
                                          : QStringLiteral("desk-german-scale%1.png").arg(scale));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(statusLineOf(window())->text().left(8), QStringLiteral("Dateien:"));
}

} // namespace
