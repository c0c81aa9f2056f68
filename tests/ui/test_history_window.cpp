// The History dialog from the window: Ctrl+H and the SendList's menu open it
// on the history of $XDG_DATA_HOME, and "Send Again" puts the files of a send
// that did not go through back into the SendList by the SendList's own rules.

#include "context_menus.h"
#include "history_dialog.h"
#include "history_fill.h"
#include "history_path.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

using namespace zapfer;
using namespace zapfer::test;
using history::Direction;
using history::TransferOutcome;

namespace {

constexpr std::int64_t kEarlier = 1796000000000;

class HistoryWindow : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(m_data.isValid());
        m_oldDataHome = qgetenv("XDG_DATA_HOME");
        m_hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
        m_db = history::defaultHistoryPath();
        ASSERT_EQ(m_db.rfind(m_data.path().toStdString(), 0), 0u) << m_db;
    }
    void TearDown() override {
        m_window.reset();
        if (m_hadDataHome)
            qputenv("XDG_DATA_HOME", m_oldDataHome);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    std::string makeFile(const QString& name) {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("zapfer");
        return file.fileName().toStdString();
    }

    // The window's History dialog once it has shown what it read.
    HistoryDialog* historyOf(MainWindow& w) {
        HistoryDialog* dialog = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                dialog = w.findChild<HistoryDialog*>();
                return dialog && dialog->isVisible() && !dialog->isReading();
            },
            10000));
        return dialog;
    }

    QTemporaryDir m_data;
    QByteArray m_oldDataHome;
    bool m_hadDataHome = false;
    std::string m_db;
};

TEST_F(HistoryWindow, CtrlHAndSendAgainPutTheFailedFilesBackIntoTheSendList) {
    const std::string sent = makeFile(QStringLiteral("sent.txt"));
    const std::string failed1 = makeFile(QStringLiteral("failed-one.txt"));
    const std::string failed2 = makeFile(QStringLiteral("failed-two.txt"));
    recordInto(m_db, transferRecord(Direction::Sent, TransferOutcome::Aborted, kEarlier),
               {fileRecord(sent, history::FileResult::Sent, 6, 0x12345678u),
                fileRecord(failed1, history::FileResult::Failed, 6),
                fileRecord(failed2, history::FileResult::Aborted, 6)});
    // A later receive: the send is not the transfer selected on opening.
    recordInto(m_db,
               transferRecord(Direction::Received, TransferOutcome::Completed, kEarlier + 5000),
               {fileRecord("in.txt", history::FileResult::Stored, 6, 1u, "in.txt")});

    MainWindow& w = window();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_H, Qt::ControlModifier);
    HistoryDialog* dialog = historyOf(w);
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->transferList()->topLevelItemCount(), 2);
    EXPECT_FALSE(dialog->sendAgainButton()->isEnabled());

    dialog->transferList()->setCurrentItem(dialog->transferList()->topLevelItem(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->isReading(); }, 10000));
    ASSERT_EQ(dialog->fileList()->topLevelItemCount(), 3);
    ASSERT_TRUE(dialog->sendAgainButton()->isEnabled());
    QTest::mouseClick(dialog->sendAgainButton(), Qt::LeftButton);

    SendListModel* list = sendListOf(w).model();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->fileCount() == 2; }, 10000));
    QStringList names;
    for (int row = 0; row < list->fileCount(); ++row)
        names.append(list->entry(row).path);
    names.sort();
    EXPECT_EQ(names,
              (QStringList{QString::fromStdString(failed1), QString::fromStdString(failed2)}));
    EXPECT_EQ(dialog->messageLine()->text(),
              QStringLiteral("2 files put back into the Send List."));

    // Again: both are queued already, and the SendList does not take a name twice.
    QTest::mouseClick(dialog->sendAgainButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog->messageLine()->text().startsWith(QStringLiteral("0 of 2")); }, 10000))
        << dialog->messageLine()->text().toStdString();
    EXPECT_EQ(list->fileCount(), 2);
}

TEST_F(HistoryWindow, AFileThatIsGoneIsNotPutBack) {
    const std::string kept = makeFile(QStringLiteral("kept.txt"));
    const std::string gone = makeFile(QStringLiteral("gone.txt"));
    recordInto(m_db, transferRecord(Direction::Sent, TransferOutcome::Failed, kEarlier),
               {fileRecord(kept, history::FileResult::Failed, 6),
                fileRecord(gone, history::FileResult::Failed, 6)});
    ASSERT_TRUE(QFile::remove(QString::fromStdString(gone)));

    MainWindow& w = window();
    command(w, id::History);
    HistoryDialog* dialog = historyOf(w);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->sendAgainButton()->isEnabled());
    QTest::mouseClick(dialog->sendAgainButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dialog->messageLine()->text().startsWith(QStringLiteral("1 of 2")); }, 10000))
        << dialog->messageLine()->text().toStdString();
    ASSERT_EQ(sendListOf(w).model()->fileCount(), 1);
    EXPECT_EQ(sendListOf(w).model()->entry(0).path, QString::fromStdString(kept));
}

TEST_F(HistoryWindow, TheSendListMenuOpensTheHistoryAndAskingAgainReadsAfresh) {
    recordInto(m_db, transferRecord(Direction::Sent, TransferOutcome::Completed, kEarlier), {});
    MainWindow& w = window();
    QTreeView* view = sendListOf(w).view();
    ASSERT_EQ(view->contextMenuPolicy(), Qt::CustomContextMenu);
    Q_EMIT view->customContextMenuRequested(QPoint(10, 10));
    QMenu* menu = menusOf(w).contextMenus()->sendList();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
    QAction* item = menu->findChild<QAction*>(QString::number(id::History));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QStringLiteral("History..."));
    item->trigger();
    menu->close();
    HistoryDialog* dialog = historyOf(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->transferList()->topLevelItemCount(), 1);

    // Still open when asked for again: the one dialog, with what came since.
    recordInto(m_db, transferRecord(Direction::Received, TransferOutcome::Completed, kEarlier + 1),
               {});
    command(w, id::History);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialog->transferList()->topLevelItemCount() == 2; }, 10000));
    EXPECT_EQ(w.findChildren<HistoryDialog*>().size(), 1);
    // Closed, it is gone; the next one starts afresh.
    dialog->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.findChildren<HistoryDialog*>().isEmpty(); }, 5000));
}

} // namespace
