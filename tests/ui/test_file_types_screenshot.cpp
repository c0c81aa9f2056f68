// The window and the directory picker as a user sees them on a real X
// server (Xvfb), each file with its type's icon. The pictures are written
// for a person to look at; the test checks that the icons are the theme's.

#include "directory_picker_dialog.h"
#include "file_list_model.h"
#include "main_window.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <iostream>
#include <utility>

using namespace zapfer;
using namespace zapfer::test;

namespace {

QString screenshotDir() {
    QString dir = qEnvironmentVariable("ZAPFER_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(ZAPFER_SCREENSHOT_DEFAULT_DIR);
    return dir;
}

bool saveScreen(const QString& name) {
    QTest::qWait(200); // let the X server draw what was exposed
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !QDir().mkpath(screenshotDir()))
        return false;
    const QString file = QDir(screenshotDir()).filePath(name);
    std::cout << "screenshot: " << file.toStdString() << std::endl;
    return screen->grabWindow(0).toImage().save(file);
}

TEST_F(WindowTest, FilesShowTheirTypesIconsInTheWindowAndThePicker) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "needs an X server (run under xvfb-run), platform is "
                     << QGuiApplication::platformName().toStdString();
    const QString home = m_dir.filePath(QStringLiteral("Documents"));
    for (const char* folder : {"Documents/Invoices", "Documents/Photos", "Documents/Music",
                               "Documents/Projects", "Backup"})
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QString::fromLatin1(folder))));
    const std::pair<const char*, int> files[] = {
        {"letter.odt", 18432},   {"notes.txt", 2100},    {"photo.jpg", 2400000},
        {"diagram.png", 96000},  {"report.pdf", 310000}, {"budget.ods", 24000},
        {"song.mp3", 5200000},   {"clip.mp4", 48000000}, {"site.html", 9300},
        {"archive.zip", 730000}, {"install.sh", 1800},   {"main.cpp", 14500}};
    for (const auto& [name, size] : files) {
        QFile file(QDir(home).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
    }
    m_settings.curDir = home;
    MainWindow& w = window();
    w.move(0, 0);
    ASSERT_TRUE(resizeTo(800, 460));
    w.addPaths({QDir(home).filePath(QStringLiteral("photo.jpg")),
                QDir(home).filePath(QStringLiteral("report.pdf")),
                QDir(home).filePath(QStringLiteral("song.mp3"))});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));

    // The theme's own icons, one per type.
    FileListModel* model = browserOf(w).model();
    QStringList iconNames;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QIcon icon = model->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        EXPECT_FALSE(icon.pixmap(16, 16).isNull());
        if (!model->record(row).folder && !iconNames.contains(icon.name()))
            iconNames.append(icon.name());
    }
    EXPECT_GE(iconNames.size(), 8) << iconNames.join(QLatin1Char(' ')).toStdString();
    ASSERT_TRUE(saveScreen(QStringLiteral("window_file_types.png")));

    DirectoryPickerDialog picker(m_dir.path(), {QStringLiteral("/"), m_dir.path()}, 0, &w);
    picker.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&picker, 5000));
    EXPECT_EQ(picker.folderModel()->rowCount(), 2);
    ASSERT_TRUE(saveScreen(QStringLiteral("picker_file_types.png")));
    picker.reject();
}

} // namespace
