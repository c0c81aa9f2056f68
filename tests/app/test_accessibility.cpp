// What a screen reader and a keyboard user meet: every button of the window
// and every control of its dialogs has a name through QAccessible, and Tab
// and Space reach and press every command button.

#include "about_dialog.h"
#include "connecting_dialog.h"
#include "copy_to_dialog.h"
#include "file_list_model.h"
#include "file_properties_dialog.h"
#include "history_dialog.h"
#include "run_dialog.h"
#include "settings_dialog.h"
#include "string_table.h"
#include "transfer_status_dialog.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QSet>
#include <QTreeWidget>

#include <functional>

using namespace zapfer;
using namespace zapfer::test;

namespace {

// Every accessible object below `root` (itself included), depth first.
void walk(QAccessibleInterface* root, const std::function<void(QAccessibleInterface*)>& visit,
          int depth = 0) {
    ASSERT_NE(root, nullptr);
    ASSERT_LT(depth, 30);
    visit(root);
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface* child = root->child(i))
            walk(child, visit, depth + 1);
    }
}

// The controls a user acts on, each with the name a screen reader speaks.
struct Control {
    QAccessible::Role role;
    QString name;
    QString objectName;
};

std::vector<Control> controlsOf(QWidget* widget) {
    std::vector<Control> out;
    static const QSet<QAccessible::Role> acted = {QAccessible::PushButton, QAccessible::CheckBox,
                                                  QAccessible::EditableText, QAccessible::ComboBox,
                                                  QAccessible::ProgressBar};
    walk(QAccessible::queryAccessibleInterface(widget), [&](QAccessibleInterface* iface) {
        if (!acted.contains(iface->role()) || !iface->object())
            return;
        out.push_back(
            {iface->role(), iface->text(QAccessible::Name), iface->object()->objectName()});
    });
    return out;
}

void expectEveryControlNamed(QWidget* widget, size_t atLeast) {
    const std::vector<Control> controls = controlsOf(widget);
    EXPECT_GE(controls.size(), atLeast) << widget->windowTitle().toStdString();
    for (const Control& c : controls)
        EXPECT_FALSE(c.name.trimmed().isEmpty())
            << widget->windowTitle().toStdString() << ": control " << c.objectName.toStdString()
            << " (role " << int(c.role) << ") has no name";
}

class Accessibility : public WindowTest {
protected:
    QString makeFile(const QString& name) {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write("zapfer"), 6);
        return file.fileName();
    }
};

TEST_F(Accessibility, EveryButtonOfTheWindowHasAName) {
    MainWindow& w = window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    QSet<QString> named;
    walk(QAccessible::queryAccessibleInterface(&w), [&](QAccessibleInterface* iface) {
        if (iface->role() != QAccessible::PushButton)
            return;
        const QString name = iface->text(QAccessible::Name);
        EXPECT_FALSE(name.trimmed().isEmpty()) << iface->object()->objectName().toStdString();
        named.insert(iface->object()->objectName());
    });
    // The seven command buttons and the path and sort buttons.
    for (int commandId : kCommandButtonIds)
        EXPECT_TRUE(named.contains(QString::number(commandId))) << commandId;
    EXPECT_TRUE(named.contains(QString::number(id::PathButton)));
    EXPECT_TRUE(named.contains(QString::number(id::SortButton)));

    for (int i = 0; i < int(kCommandButtonIds.size()); ++i) {
        CommandButton* button = commandButtonOf(w, i);
        ASSERT_NE(button, nullptr);
        const QString name = loadString(kCommandButtonIds[size_t(i)] + str::CommandNameOffset);
        EXPECT_EQ(button->toolTip(), name);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
        EXPECT_EQ(iface->text(QAccessible::Name), name);
        // Pressable through the accessibility interface, as a screen reader does.
        EXPECT_TRUE(iface->actionInterface() && iface->actionInterface()->actionNames().contains(
                                                    QAccessibleActionInterface::pressAction()));
    }
}

TEST_F(Accessibility, TabReachesEveryCommandButtonAndSpacePressesIt) {
    makeFile(QStringLiteral("letter.txt"));
    MainWindow& w = window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    w.activateWindow();
    QApplication::setActiveWindow(&w);
    QTreeView* fileList = browserOf(w).fileList();
    fileList->setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(w.focusWidget(), fileList);

    QSet<QString> reached;
    for (int i = 0; i < 40; ++i) {
        QWidget* focus = w.focusWidget();
        ASSERT_NE(focus, nullptr);
        reached.insert(focus->objectName());
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    for (int commandId : kCommandButtonIds)
        EXPECT_TRUE(reached.contains(QString::number(commandId))) << commandId;
    EXPECT_TRUE(reached.contains(QString::number(id::PathButton)));
    EXPECT_TRUE(reached.contains(QString::number(id::SortButton)));

    // The file selected, the Add button pressed with Space: it joins the send list.
    FileListModel* model = browserOf(w).model();
    int row = -1;
    for (int r = 0; r < model->rowCount(); ++r)
        if (model->record(r).name == QStringLiteral("letter.txt"))
            row = r;
    ASSERT_GE(row, 0);
    fileList->selectionModel()->select(model->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
    CommandButton* add = commandButtonOf(w, 0);
    add->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(w.focusWidget(), add);
    QTest::keyClick(add, Qt::Key_Space);
    EXPECT_EQ(sendListOf(w).model()->fileCount(), 1);
}

TEST_F(Accessibility, EveryControlOfTheDialogsHasAName) {
    const QString file = makeFile(QStringLiteral("notes.txt"));
    MainWindow& w = window();

    SettingsDialog settings(m_settings, m_volumes, &w);
    expectEveryControlNamed(&settings, 11);
    AboutDialog about(&w);
    expectEveryControlNamed(&about, 1);
    ConnectingDialog connecting(true, &w);
    expectEveryControlNamed(&connecting, 1);
    TransferStatusDialog status(false, &w);
    expectEveryControlNamed(&status, 4);
    RunDialog run(QStringLiteral("tool"), &w);
    expectEveryControlNamed(&run, 3);
    CopyToDialog copy(CopyToDialog::Mode::Copy, m_dir.path(), {QStringLiteral("notes.txt")},
                      QDir::tempPath(), &w);
    expectEveryControlNamed(&copy, 4);
    FilePropertiesDialog properties(m_dir.path(), QStringLiteral("notes.txt"), &w);
    expectEveryControlNamed(&properties, 6);
    HistoryDialog history(m_dir.filePath(QStringLiteral("none/history.sqlite")), m_dir.path(),
                          nullptr, &w);
    expectEveryControlNamed(&history, 3);
    // The lists are named too, though they are no "control" above.
    for (QTreeWidget* list : {history.transferList(), history.fileList()})
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(list)
                         ->text(QAccessible::Name)
                         .trimmed()
                         .isEmpty());
    ASSERT_TRUE(QFile::exists(file));
}

} // namespace
