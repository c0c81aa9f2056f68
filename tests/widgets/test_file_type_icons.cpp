// The icons and size texts beside a name, as the FileList and the picker
// show them, with the icon theme that the set-up script installs.

#include "file_list_model.h"
#include "file_type_icons.h"

#include <QIcon>
#include <QPixmap>

#include <gtest/gtest.h>

using namespace zapfer;

namespace {

QIcon iconOf(const FileListModel& model, int row) {
    return model.data(model.index(row, FileListModel::NameColumn), Qt::DecorationRole)
        .value<QIcon>();
}

// Restores the theme a test replaced.
class ThemeGuard {
public:
    ThemeGuard() : m_name(QIcon::themeName()) {}
    ~ThemeGuard() { QIcon::setThemeName(m_name); }
    ThemeGuard(const ThemeGuard&) = delete;
    ThemeGuard& operator=(const ThemeGuard&) = delete;

private:
    QString m_name;
};

TEST(FileTypeIcons, EachTypeHasItsThemesIconAndFoldersAndVolumesTheirOwn) {
    FileListModel model;
    model.setRecords({FileRecord::makeFile(QStringLiteral("notes.txt"), 10, 0),
                      FileRecord::makeFile(QStringLiteral("todo.TXT"), 20, 0),
                      FileRecord::makeFile(QStringLiteral("photo.png"), 30, 0),
                      FileRecord::makeFile(QStringLiteral("report.pdf"), 40, 0),
                      FileRecord::makeFolder(QStringLiteral("Pictures")),
                      FileRecord::makeVolume(QStringLiteral("/"), 0)});
    ASSERT_FALSE(ensureFileTypeIconTheme().isEmpty()) << "no icon theme with file types installed";

    const QIcon text = iconOf(model, 0);
    const QIcon png = iconOf(model, 2);
    const QIcon pdf = iconOf(model, 3);
    const QIcon folder = iconOf(model, 4);
    const QIcon volume = iconOf(model, 5);
    for (const QIcon& icon : {text, png, pdf, folder, volume}) {
        EXPECT_FALSE(icon.isNull());
        EXPECT_FALSE(icon.pixmap(16, 16).isNull());
    }
    // Named by the theme, so a type's icon is the desktop's own.
    EXPECT_FALSE(text.name().isEmpty());
    EXPECT_EQ(iconOf(model, 1).name(), text.name()) << "the case of an extension does not count";
    EXPECT_NE(png.name(), text.name());
    EXPECT_NE(pdf.name(), text.name());
    EXPECT_NE(pdf.name(), png.name());
    EXPECT_EQ(folder.name(), QStringLiteral("folder"));
    EXPECT_NE(volume.name(), folder.name());
    EXPECT_NE(volume.name(), text.name());
}

TEST(FileTypeIcons, WithoutAThemeEveryFileShowsTheGenericFileIcon) {
    const ThemeGuard guard;
    QIcon::setThemeName(QStringLiteral("zapfer-no-such-theme"));
    FileTypeIcons icons;
    const QIcon text = icons.fileIcon(QStringLiteral("notes.txt"));
    const QIcon png = icons.fileIcon(QStringLiteral("photo.png"));
    const QIcon unknown = icons.fileIcon(QStringLiteral("data.zz-unknown"));
    EXPECT_FALSE(text.isNull());
    EXPECT_FALSE(text.pixmap(16, 16).isNull());
    EXPECT_EQ(text.cacheKey(), png.cacheKey());
    EXPECT_EQ(text.cacheKey(), unknown.cacheKey());
    EXPECT_FALSE(icons.folderIcon().isNull());
    EXPECT_NE(icons.folderIcon().cacheKey(), text.cacheKey());
}

TEST(FileTypeIcons, SizeCellsShowFilesOnly) {
    EXPECT_EQ(sizeCellText(FileRecord::makeFile(QStringLiteral("a"), 1536, 0)),
              QStringLiteral("1.5K"));
    EXPECT_EQ(sizeCellText(FileRecord::makeFile(QStringLiteral("a"), 0, 0)), QStringLiteral("0"));
    EXPECT_EQ(sizeCellText(FileRecord::makeFolder(QStringLiteral("a"))), QString());
    EXPECT_EQ(sizeCellText(FileRecord::makeVolume(QStringLiteral("/"), 0)), QString());
}

} // namespace
