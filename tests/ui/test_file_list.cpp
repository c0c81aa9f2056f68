#include "control_ids.h"
#include "file_list_model.h"
#include "window_buttons.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QTreeView>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class FileListTest : public WindowTest {
protected:
    void makeFile(const QString& name, int64_t size, const QDateTime& written) {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        ASSERT_TRUE(file.setFileTime(written, QFileDevice::FileModificationTime));
    }

    QStringList column(int c) {
        FileListModel* model = browserOf(window()).model();
        QStringList out;
        for (int row = 0; row < model->rowCount(); ++row)
            out.append(model->index(row, c).data().toString());
        return out;
    }
};

TEST_F(FileListTest, RowsWithTheirSizeAndUtcDateTexts) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Photos")));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral(".cache")));
    // 23:30 UTC: shown as that UTC day whatever the local zone.
    makeFile(QStringLiteral("notes.txt"), 1536,
             QDateTime(QDate(2021, 3, 4), QTime(23, 30), Qt::UTC));
    makeFile(QStringLiteral(".profile"), 0, QDateTime(QDate(1999, 12, 31), QTime(1, 0), Qt::UTC));
    makeFile(QStringLiteral("big.iso"), int64_t(3) << 30,
             QDateTime(QDate(2009, 10, 5), QTime(12, 0), Qt::UTC));

    window();
    EXPECT_EQ(column(0), (QStringList{QStringLiteral("Photos"), QStringLiteral(".profile"),
                                      QStringLiteral("big.iso"), QStringLiteral("notes.txt")}));
    EXPECT_EQ(column(1), (QStringList{QString(), QStringLiteral("0"), QStringLiteral("3.0G"),
                                      QStringLiteral("1.5K")}));
    EXPECT_EQ(column(2), (QStringList{QString(), QStringLiteral("12/31/99"),
                                      QStringLiteral("10/05/09"), QStringLiteral("03/04/21")}));
    EXPECT_EQ(browserOf(window()).model()->headerData(2, Qt::Horizontal, Qt::DisplayRole),
              QStringLiteral("Date"));

    browserOf(window()).setSort(2);
    EXPECT_EQ(column(0), (QStringList{QStringLiteral("Photos"), QStringLiteral(".profile"),
                                      QStringLiteral("notes.txt"), QStringLiteral("big.iso")}));
}

TEST_F(FileListTest, AClickEntersAFolderAndAVolumeButNotAFile) {
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("Sub/Inner")));
    makeFile(QStringLiteral("a.txt"), 1, QDateTime::currentDateTimeUtc());
    MainWindow& w = window();
    ASSERT_TRUE(resizeTo(640, 400));
    QTreeView* list = browserOf(w).fileList();
    FileListModel* model = browserOf(w).model();
    ASSERT_EQ(model->rowCount(), 2);

    const auto click = [list, model](int row) {
        const QRect cell = list->visualRect(model->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    };
    click(1); // a.txt
    EXPECT_EQ(m_settings.curDir, m_dir.path());
    click(0); // Sub
    EXPECT_EQ(m_settings.curDir, m_dir.filePath(QStringLiteral("Sub")));
    EXPECT_EQ(menusOf(w).pathButton()->caption(), QStringLiteral("Sub"));
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->record(0).name, QStringLiteral("Inner"));

    m_settings.curDir.clear();
    browserOf(w).listCurDir();
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->index(0, 0).data().toString(), QStringLiteral("/"));
    EXPECT_EQ(model->index(1, 0).data().toString(), QStringLiteral("/media/usb"));
    EXPECT_TRUE(model->index(1, 1).data().toString().isEmpty());
    click(0);
    EXPECT_EQ(m_settings.curDir, QStringLiteral("/"));
    EXPECT_EQ(menusOf(w).pathButton()->caption(), QStringLiteral("/"));
}

TEST_F(FileListTest, BothListsShowEachFilesTypeIcon) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Photos")));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    makeFile(QStringLiteral("notes.txt"), 10, now);
    makeFile(QStringLiteral("photo.png"), 20, now);
    makeFile(QStringLiteral("report.pdf"), 30, now);
    MainWindow& w = window();
    FileListModel* files = browserOf(w).model();
    ASSERT_EQ(column(0), (QStringList{QStringLiteral("Photos"), QStringLiteral("notes.txt"),
                                      QStringLiteral("photo.png"), QStringLiteral("report.pdf")}));
    const auto fileIcon = [files](int row) {
        return files->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
    };
    const QStringList names = {fileIcon(1).name(), fileIcon(2).name(), fileIcon(3).name()};
    for (const QString& name : names)
        EXPECT_FALSE(name.isEmpty());
    EXPECT_NE(names[0], names[1]);
    EXPECT_NE(names[0], names[2]);
    EXPECT_NE(names[1], names[2]);
    EXPECT_NE(fileIcon(0).name(), names[0]) << "a folder looks like a folder";

    // Added from the FileList or dropped in from elsewhere: the same icons.
    QItemSelectionModel* selection = browserOf(w).fileList()->selectionModel();
    selection->select(files->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    command(w, id::AddToSendList);
    EXPECT_EQ(w.addPaths({m_dir.filePath(QStringLiteral("photo.png")),
                          m_dir.filePath(QStringLiteral("report.pdf"))}),
              2);
    const SendListModel* queued = sendListOf(w).model();
    ASSERT_EQ(queued->fileCount(), 3);
    QStringList sendNames;
    for (int row = 0; row < queued->fileCount(); ++row) {
        sendNames.append(queued->index(row, 0).data(Qt::DisplayRole).toString());
        const QIcon icon = queued->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        EXPECT_FALSE(icon.pixmap(16, 16).isNull());
        EXPECT_EQ(icon.name(), names[int(column(0).indexOf(sendNames.last())) - 1]);
    }
    EXPECT_EQ(sendNames, (QStringList{QStringLiteral("report.pdf"), QStringLiteral("photo.png"),
                                      QStringLiteral("notes.txt")}));
}

} // namespace
