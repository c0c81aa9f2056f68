// The window as a person sees it, at the screen's scale (run once at
// QT_SCALE_FACTOR=2): drawn at the full device resolution, its glyphs finer
// than a scaled-up picture would be. With ZAPFER_SCREENSHOT_DIR set, the
// pictures are written there, in English and in German, for a person to
// look at; they are not compared.

#include "history_dialog.h"
#include "history_fill.h"
#include "translator_scope.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTreeWidget>

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

// The History dialog with a few transfers, the failed send selected.
TEST_F(DesktopScreenshot, TheHistoryDialogWithAFewTransfers) {
    using history::Direction;
    using history::FileResult;
    using history::TransferOutcome;
    const std::string db = m_dir.filePath(QStringLiteral("history.sqlite")).toStdString();
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    const std::string home = m_dir.path().toStdString() + "/";
    recordInto(db,
               transferRecord(Direction::Sent, TransferOutcome::Completed, now - 86400000,
                              "192.168.1.20", "Laptop"),
               {fileRecord(home + "holiday.jpg", FileResult::Sent, 48000, 0x3b9ac9ffu),
                fileRecord(home + "letter.odt", FileResult::Sent, 48000, 0x0417c0deu)});
    auto refused = transferRecord(Direction::Received, TransferOutcome::Refused, now - 7200000,
                                  "192.168.1.31");
    refused.refusalCode = 4;
    recordInto(db, refused, {fileRecord("setup.exe", FileResult::Refused, 900000)});
    recordInto(db,
               transferRecord(Direction::Received, TransferOutcome::Completed, now - 3600000,
                              "192.168.1.20", "Laptop"),
               {fileRecord("notes.txt", FileResult::Stored, 48000, 0x9f3e55a1u, "notes (2).txt")});
    recordInto(db,
               transferRecord(Direction::Sent, TransferOutcome::Aborted, now - 60000,
                              "192.168.1.44", "Desk PC"),
               {fileRecord(home + "report.pdf", FileResult::Sent, 48000, 0x00a1b2c3u),
                fileRecord(home + "holiday.jpg", FileResult::Failed, 48000),
                fileRecord(home + "letter.odt", FileResult::Aborted, 48000)});

    HistoryDialog dialog(QString::fromStdString(db), m_dir.path(), nullptr, &window());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isReading(); }, 10000));
    ASSERT_EQ(dialog.transferList()->topLevelItemCount(), 4);
    ASSERT_EQ(dialog.fileList()->topLevelItemCount(), 3);
    const QImage image = dialog.grab().toImage();
    ASSERT_FALSE(image.isNull());
    const QString dir = qEnvironmentVariable("ZAPFER_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        const int scale = qRound(dialog.devicePixelRatioF());
        EXPECT_TRUE(image.save(QDir(dir).filePath(
            scale == 1 ? QStringLiteral("history-dialog.png")
                       : QStringLiteral("history-dialog-scale%1.png").arg(scale))));
    }
}

} // namespace
