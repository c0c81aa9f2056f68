#include "about_dialog.h"
#include "center_dialog.h"
#include "context_menus.h"
#include "engine_events.h"
#include "feedback_recorder.h"
#include "file_list_model.h"
#include "run_dialog.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTreeView>

using namespace zapfer;
using namespace zapfer::test;

namespace {

class WindowCommands : public WindowTest {
protected:
    void makeFile(const QString& name, const QByteArray& content = "x") {
        WindowTest::makeFile(name, content);
    }

    QPoint center(const QString& name) {
        const int row = rowOf(name);
        EXPECT_GE(row, 0) << name.toStdString();
        return browserOf(window())
            .fileList()
            ->visualRect(browserOf(window()).model()->index(row, 0))
            .center();
    }

    void selectOnly(const QStringList& names) {
        QItemSelectionModel* selection = browserOf(window()).fileList()->selectionModel();
        selection->clearSelection();
        for (const QString& name : names)
            selection->select(browserOf(window()).model()->index(rowOf(name), 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QStringList selectedNames() {
        QStringList out;
        for (const QModelIndex& row :
             browserOf(window()).fileList()->selectionModel()->selectedRows())
            out.append(browserOf(window()).model()->record(row.row()).name);
        out.sort();
        return out;
    }

    FeedbackRecorder m_feedback;
};

TEST_F(WindowCommands, TheClickThatClosesAContextMenuDoesNotEnterAFolder) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Sub")));
    makeFile(QStringLiteral("a.txt"));
    MainWindow& w = window();
    ASSERT_TRUE(resizeTo(640, 400));
    QWidget* viewport = browserOf(w).fileList()->viewport();

    QTest::mouseClick(viewport, Qt::RightButton, {}, center(QStringLiteral("a.txt")));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return menusOf(w).contextMenus()->single()->isVisible(); }, 5000));
    EXPECT_TRUE(menusOf(w).menuBusy());
    EXPECT_EQ(selectedNames(), QStringList{QStringLiteral("a.txt")});

    QTest::mouseClick(viewport, Qt::LeftButton, {}, center(QStringLiteral("Sub")));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !menusOf(w).contextMenus()->single()->isVisible(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(m_settings.curDir, m_dir.path());
    EXPECT_FALSE(menusOf(w).menuBusy());

    QTest::mouseClick(viewport, Qt::LeftButton, {}, center(QStringLiteral("Sub")));
    EXPECT_EQ(m_settings.curDir, m_dir.filePath(QStringLiteral("Sub")));
}

TEST_F(WindowCommands, AChosenMenuItemLeavesTheNextClickFree) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Sub")));
    makeFile(QStringLiteral("a.txt"));
    MainWindow& w = window();
    ASSERT_TRUE(resizeTo(640, 400));
    QWidget* viewport = browserOf(w).fileList()->viewport();
    // Alt-click opens the menu as a right-click does.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::AltModifier, center(QStringLiteral("a.txt")));
    QMenu* menu = menusOf(w).contextMenus()->single();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
    EXPECT_EQ(m_settings.curDir, m_dir.path());
    menu->setActiveAction(menusOf(w).contextMenus()->singleItem(40026));
    QTest::keyClick(menu, Qt::Key_Return);
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(sendListOf(w).model()->paths(), QStringList{m_dir.filePath(QStringLiteral("a.txt"))});
    EXPECT_FALSE(menusOf(w).menuBusy());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, center(QStringLiteral("Sub")));
    EXPECT_EQ(m_settings.curDir, m_dir.filePath(QStringLiteral("Sub")));
}

TEST_F(WindowCommands, RunIsOfferedOnlyForExecutableFiles) {
    makeFile(QStringLiteral("SETUP.sh"));
    ASSERT_TRUE(QFile::setPermissions(m_dir.filePath(QStringLiteral("SETUP.sh")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    makeFile(QStringLiteral("readme.txt"));
    makeFile(QStringLiteral("setup.exe")); // the name alone makes nothing runnable
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Folder")));
    MainWindow& w = window();
    ContextMenus* menus = menusOf(w).contextMenus();
    const auto offer = [&](const QStringList& names) {
        selectOnly(names);
        menusOf(w).showContextMenu(w.mapToGlobal(QPoint(100, 100)));
        const bool single = menus->single()->isVisible();
        const bool multiple = menus->multiple()->isVisible();
        const QString result = multiple ? QStringLiteral("CONTEXT2")
                               : single ? QStringLiteral("run=%1 open=%2")
                                              .arg(menus->singleItem(40037)->isEnabled())
                                              .arg(menus->singleItem(40029)->isEnabled())
                                        : QStringLiteral("none");
        menus->single()->close();
        menus->multiple()->close();
        return result;
    };
    EXPECT_EQ(offer({QStringLiteral("SETUP.sh")}), QStringLiteral("run=1 open=0"));
    EXPECT_EQ(offer({QStringLiteral("readme.txt")}), QStringLiteral("run=0 open=1"));
    EXPECT_EQ(offer({QStringLiteral("setup.exe")}), QStringLiteral("run=0 open=1"));
    EXPECT_EQ(offer({QStringLiteral("Folder")}), QStringLiteral("run=0 open=1"));
    EXPECT_EQ(offer({QStringLiteral("readme.txt"), QStringLiteral("SETUP.sh")}),
              QStringLiteral("CONTEXT2"));
    EXPECT_EQ(offer({}), QStringLiteral("run=0 open=0"));
    EXPECT_FALSE(menus->singleItem(40028)->isEnabled()); // Rename needs a row
}

TEST_F(WindowCommands, RenameOntoAnExistingNameFailsAndKeepsBothFiles) {
    makeFile(QStringLiteral("a.txt"), "first");
    makeFile(QStringLiteral("b.txt"), "second");
    MainWindow& w = window();
    ASSERT_TRUE(resizeTo(640, 400));
    const auto renameTo = [&](const QString& from, const QString& to) {
        selectOnly({from});
        command(w, 40028);
        auto* editor = browserOf(w).fileList()->viewport()->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), from);
        editor->setText(to);
        QTest::keyClick(editor, Qt::Key_Return);
        // The edit is committed from the event loop.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !browserOf(w).fileList()->viewport()->findChild<QLineEdit*>(); }, 2000));
    };
    renameTo(QStringLiteral("a.txt"), QStringLiteral("b.txt"));
    ASSERT_EQ(m_feedback.messages.size(), 1);
    EXPECT_EQ(m_feedback.messages.first(),
              QStringLiteral("Cannot rename 'a.txt':\n\n A file with the name you specified "
                             "already exists.  Specify a different Name."));
    EXPECT_EQ(m_feedback.titles.first(), QStringLiteral("Error Renaming File"));
    EXPECT_GE(rowOf(QStringLiteral("a.txt")), 0);
    QFile b(m_dir.filePath(QStringLiteral("b.txt")));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), QByteArray("second"));
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("a.txt"))));

    // A name with a separator would move the file: refused.
    renameTo(QStringLiteral("a.txt"), QStringLiteral("../a.txt"));
    EXPECT_EQ(m_feedback.messages.size(), 2);
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("a.txt"))));

    // A queued file keeps its SendList entry when renamed.
    w.addPaths({m_dir.filePath(QStringLiteral("a.txt"))});
    renameTo(QStringLiteral("a.txt"), QStringLiteral("c.txt"));
    EXPECT_EQ(m_feedback.messages.size(), 2);
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("c.txt"))));
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("a.txt"))));
    EXPECT_GE(rowOf(QStringLiteral("c.txt")), 0);
    EXPECT_EQ(sendListOf(w).model()->paths(), QStringList{m_dir.filePath(QStringLiteral("a.txt"))});
}

TEST_F(WindowCommands, SelectAllTakesFilesOnlyAndDeselectAllClearsEverything) {
    for (const char* name : {"Alpha", "Beta"})
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QString::fromLatin1(name)));
    makeFile(QStringLiteral("x.txt"));
    makeFile(QStringLiteral("y.txt"));
    MainWindow& w = window();
    selectOnly({QStringLiteral("Beta")});
    command(w, 40035);
    EXPECT_EQ(selectedNames(), (QStringList{QStringLiteral("Beta"), QStringLiteral("x.txt"),
                                            QStringLiteral("y.txt")}));
    command(w, 40036);
    EXPECT_TRUE(selectedNames().isEmpty());
}

TEST_F(WindowCommands, DoubleClicksAddToAndRemoveFromTheSendList) {
    makeFile(QStringLiteral("x.txt"));
    MainWindow& w = window();
    ASSERT_TRUE(resizeTo(640, 400));
    // A double-click is a click and then a second press that becomes one.
    QTest::mouseClick(browserOf(w).fileList()->viewport(), Qt::LeftButton, {},
                      center(QStringLiteral("x.txt")));
    QTest::mouseDClick(browserOf(w).fileList()->viewport(), Qt::LeftButton, {},
                       center(QStringLiteral("x.txt")));
    ASSERT_EQ(sendListOf(w).model()->fileCount(), 1);
    QTreeView* sendList = sendListOf(w).view();
    const QPoint at = sendList->visualRect(sendList->model()->index(0, 0)).center();
    QTest::mouseClick(sendListOf(w).view()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(sendListOf(w).view()->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 0);
    EXPECT_EQ(m_feedback.beeps, 0);
}

TEST(RunProgram, ArgumentsAreSplitAsAShellWould) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("args"));
    const QString script = dir.filePath(QStringLiteral("show args"));
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '%1.tmp'\nmv '%1.tmp' '%1'\n")
                .arg(out)
                .toUtf8());
    }
    ASSERT_TRUE(
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const auto run = [&](const QString& arguments) -> QByteArray {
        QFile::remove(out);
        if (!runProgram(script, arguments))
            return "not started";
        if (!QTest::qWaitFor([&] { return QFile::exists(out); }, 10000))
            return "no output";
        QFile file(out);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    EXPECT_EQ(run(QStringLiteral("one 'two words' \"three\"")),
              QByteArray("3\none\ntwo words\nthree\n"));
    EXPECT_EQ(run(QString()), QByteArray("0\n"));
    EXPECT_FALSE(runProgram(dir.filePath(QStringLiteral("missing")), QString()));
}

TEST(RunProgram, QuotesAndBackslashesGroupAndEscapeAsInAShell) {
    EXPECT_EQ(splitArguments(QStringLiteral("  -a\t b  ")),
              (QStringList{QStringLiteral("-a"), QStringLiteral("b")}));
    EXPECT_EQ(splitArguments(QStringLiteral("'it''s' \"say \\\"hi\\\" \\n\" a\\ b ''")),
              (QStringList{QStringLiteral("its"), QStringLiteral("say \"hi\" \\n"),
                           QStringLiteral("a b"), QString()}));
    EXPECT_EQ(splitArguments(QStringLiteral("'$HOME' *.txt")),
              (QStringList{QStringLiteral("$HOME"), QStringLiteral("*.txt")}));
    EXPECT_TRUE(splitArguments(QStringLiteral("   ")).isEmpty());
}

TEST(Dialogs, RunDialogNamesTheProgramAndStartsEmpty) {
    RunDialog dialog(QStringLiteral("tool.sh"));
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("1002"))->text(), QStringLiteral("tool.sh"));
    EXPECT_TRUE(dialog.arguments().isEmpty());
    EXPECT_EQ(dialog.argumentsField()->maxLength(), 255);
    dialog.show();
    QTest::keyClicks(dialog.argumentsField(), QStringLiteral("-v file"));
    QTest::keyClick(dialog.argumentsField(), Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.arguments(), QStringLiteral("-v file"));
}

TEST(Dialogs, AboutClosesOnOkButNotOnEscape) {
    AboutDialog dialog;
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("1002"))->text(),
              QStringLiteral("Zapfer Version 1.0"));
    const QString built = dialog.findChild<QLabel*>(QStringLiteral("1003"))->text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Built: [A-Z][a-z]{2} [ 123][0-9] [0-9]{4}$"))
                    .match(built)
                    .hasMatch())
        << built.toStdString();
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(Dialogs, CenterDialogCentresOverTheParentOrElseTheScreen) {
    QWidget parent;
    parent.setGeometry(40, 30, 501, 400);
    QDialog dialog(&parent);
    dialog.resize(200, 101);
    CenterDialog(&dialog);
    const QRect frame = parent.frameGeometry();
    EXPECT_EQ(dialog.pos(), QPoint(frame.left() + (frame.width() - 200) / 2,
                                   frame.top() + (frame.height() - 101) / 2));

    // As wide as its parent: centred on the screen instead.
    dialog.resize(frame.width(), 50);
    CenterDialog(&dialog);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(dialog.pos(), QPoint(screen.left() + (screen.width() - frame.width()) / 2,
                                   screen.top() + (screen.height() - 50) / 2));

    QDialog alone;
    alone.resize(screen.width() + 40, 100);
    CenterDialog(&alone);
    EXPECT_EQ(alone.pos(), QPoint(screen.left() - 20, screen.top() + (screen.height() - 100) / 2));
}

} // namespace

// A refused sender is told in the window while it is in sight, one notice
// however many tables come, and its address can be trusted from there.
TEST_F(WindowCommands, ARefusalInSightIsToldOnceAndItsAddressCanBeTrusted) {
    m_settings.acceptFrom = QStringLiteral("198.18.0.7");
    MainWindow& w = window();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    for (int i = 0; i < 5; ++i)
        w.engineEvents().receiveRefused(0xC6120009u, 3, 2048); // 198.18.0.9
    QMessageBox* notice = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            notice = w.findChild<QMessageBox*>(QStringLiteral("RefusalNotice"));
            return notice && notice->isVisible();
        },
        5000));
    QTest::qWait(100);
    EXPECT_EQ(w.findChildren<QMessageBox*>(QStringLiteral("RefusalNotice")).size(), 1);
    EXPECT_EQ(notice->text(), QStringLiteral("Refused 3 files (2.0K) from 198.18.0.9"));

    QPushButton* trust = nullptr;
    for (QAbstractButton* button : notice->buttons())
        if (button->text() == QStringLiteral("Trust this address"))
            trust = qobject_cast<QPushButton*>(button);
    ASSERT_NE(trust, nullptr);
    trust->click();
    EXPECT_EQ(m_settings.acceptFrom, QStringLiteral("198.18.0.7 198.18.0.9"));
}

// A failed paired handshake is told in sight like a refusal: one notice
// with the address, updated, never stacked.
TEST_F(WindowCommands, AFailedPairingInSightIsToldInOneNoticeWithItsAddress) {
    MainWindow& w = window();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    for (int i = 0; i < 5; ++i)
        w.engineEvents().pairingFailed(0xC6120009u); // 198.18.0.9
    QMessageBox* notice = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            notice = w.findChild<QMessageBox*>(QStringLiteral("PairingFailureNotice"));
            return notice && notice->isVisible();
        },
        5000));
    EXPECT_EQ(notice->text(), QStringLiteral("A paired connection from 198.18.0.9 failed: a "
                                             "different pairing code, or not a paired peer"));
    w.engineEvents().pairingFailed(0xC612000Au);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return notice && notice->text().contains(QStringLiteral("198.18.0.10")); }, 5000));
    EXPECT_EQ(w.findChildren<QMessageBox*>(QStringLiteral("PairingFailureNotice")).size(), 1);
    EXPECT_FALSE(w.findChild<QMessageBox*>(QStringLiteral("RefusalNotice")));
}

// With only paired peers, it is the code that lets a peer in: trusting an
// address from a refusal leaves the choice as it is.
TEST_F(WindowCommands, TrustingAnAddressLeavesOnlyPairedPeersAlone) {
    m_settings.pairingCode = QStringLiteral("7KQ3M4XD2HVF");
    m_settings.acceptFrom = QLatin1String(kAcceptPairedPeers);
    MainWindow& w = window();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.engineEvents().receiveRefused(0xC6120009u, 1, 10);
    QMessageBox* notice = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (notice = w.findChild<QMessageBox*>(QStringLiteral("RefusalNotice"))); },
        5000));
    for (QAbstractButton* button : notice->buttons())
        if (button->text() == QStringLiteral("Trust this address"))
            button->click();
    EXPECT_EQ(m_settings.acceptFrom, QStringLiteral("paired"));
    EXPECT_EQ(m_settings.acceptList().kind, AcceptFrom::PairedPeers);
}
