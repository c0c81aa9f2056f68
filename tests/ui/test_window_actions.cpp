// The SendList's model and the window's commands as actions.

#include "control_ids.h"
#include "send_list_controller.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTreeView>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class SendListModelTest : public ::testing::Test {
protected:
    QString makeFile(const QString& name, qint64 size) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_TRUE(file.resize(size));
        return path;
    }

    QTemporaryDir m_dir;
};

// Removal goes by path: rows are dropped wherever they sit, the rest keep
// their order, and the byte count follows.
TEST_F(SendListModelTest, RemovesEntriesByValueAndKeepsTheRestInOrder) {
    SendListModel model;
    QSignalSpy changed(&model, &SendListModel::contentsChanged);
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        paths.prepend(makeFile(QStringLiteral("f%1").arg(i), 100 * (i + 1)));
        ASSERT_EQ(model.addFile(paths.first()), SendListModel::AddResult::Added);
    }
    EXPECT_EQ(model.paths(), paths); // newest first
    EXPECT_EQ(model.totalBytes(), 1000);

    EXPECT_EQ(model.removePaths({paths[1], paths[3], m_dir.filePath(QStringLiteral("never"))}), 2);
    EXPECT_EQ(model.paths(), (QStringList{paths[0], paths[2]}));
    EXPECT_EQ(model.totalBytes(), 400 + 200);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(changed.count(), 5);

    EXPECT_EQ(model.removePaths({}), 0);
    EXPECT_EQ(changed.count(), 5) << "nothing removed, nothing changed";
}

TEST_F(SendListModelTest, ShowsNameSizeAndPathWithTheHeadersOfTheList) {
    SendListModel model;
    const QString path = makeFile(QStringLiteral("report.txt"), 1950);
    ASSERT_EQ(model.addFile(path), SendListModel::AddResult::Added);
    EXPECT_EQ(model.data(model.index(0, SendListModel::NameColumn), Qt::DisplayRole),
              QStringLiteral("report.txt"));
    EXPECT_EQ(model.data(model.index(0, SendListModel::SizeColumn), Qt::DisplayRole),
              QStringLiteral("1.9K"));
    EXPECT_EQ(model.data(model.index(0, SendListModel::PathColumn), Qt::DisplayRole), path);
    EXPECT_FALSE(model.data(model.index(0, SendListModel::NameColumn), Qt::DecorationRole)
                     .value<QIcon>()
                     .isNull());
    EXPECT_EQ(model.headerData(SendListModel::PathColumn, Qt::Horizontal, Qt::DisplayRole),
              QStringLiteral("Pathname"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("other")));
    EXPECT_EQ(model.addFile(makeFile(QStringLiteral("other/REPORT.TXT"), 1)),
              SendListModel::AddResult::Duplicate);
    EXPECT_EQ(model.addFile(m_dir.filePath(QStringLiteral("missing"))),
              SendListModel::AddResult::NotReadable);
    EXPECT_EQ(model.fileCount(), 1);
}

// After a send only the entries the engine marked as sent leave, among the
// top `count`; the user's selection goes with them.
TEST_F(WindowTest, RemoveSentTakesOnlyTheSentEntriesOfTheTop) {
    QStringList paths;
    for (int i = 0; i < 5; ++i) {
        QFile file(m_dir.filePath(QStringLiteral("s%1").arg(i)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        paths.prepend(file.fileName());
    }
    MainWindow& w = window();
    ASSERT_EQ(w.addPaths(QStringList(paths.rbegin(), paths.rend())), 5);
    ASSERT_EQ(sendListOf(w).model()->paths(), paths);
    selectSendListRow(w, 4);

    sendListOf(w).removeSent(3, {true, false, true});
    EXPECT_EQ(sendListOf(w).model()->paths(), (QStringList{paths[1], paths[3], paths[4]}));
    EXPECT_TRUE(sendListOf(w).view()->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 3  Bytes: 0"));

    sendListOf(w).removeSent(10, {});
    EXPECT_TRUE(sendListOf(w).model()->paths().isEmpty()) << "no marks: every file went";
}

// Every command the buttons, menus and engine send is an action named by
// its number; the action key is the shortcut of Add to Send List.
TEST_F(WindowTest, EveryCommandIsAnActionNamedByItsNumber) {
    MainWindow& w = window();
    for (const int commandId :
         {id::About,   id::Settings,   id::Exit,       id::Abort,         id::Send,
          id::Receive, id::PathButton, id::SortButton, id::AddToSendList, id::RemoveFromSendList,
          id::Delete,  id::Properties, id::Move,       id::CopyTo,        id::NewFolder,
          id::Rename,  id::Open,       id::Run,        id::SelectAll,     id::DeselectAll,
          id::Help}) {
        EXPECT_NE(w.findChild<QAction*>(QString::number(commandId), Qt::FindDirectChildrenOnly),
                  nullptr)
            << commandId;
    }
    EXPECT_EQ(w.findChild<QAction*>(QString::number(id::AddToSendList), Qt::FindDirectChildrenOnly)
                  ->shortcut(),
              QKeySequence(Qt::Key_F23));
}

} // namespace
