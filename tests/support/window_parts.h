#pragma once

// The parts of a running MainWindow, found the way a user's tools find
// them: controllers by type, widgets and commands by their object names
// (the command and control numbers).

#include "browser_menus.h"
#include "browser_pane.h"
#include "control_ids.h"
#include "send_list_controller.h"
#include "transfer_controller.h"
#include "window_buttons.h"

#include <QAction>
#include <QLabel>
#include <QTreeView>

#include <gtest/gtest.h>

namespace zapfer::test {

template <typename T> T& partOf(QWidget& window) {
    T* part = window.findChild<T*>();
    EXPECT_NE(part, nullptr);
    return *part;
}

inline BrowserPane& browserOf(QWidget& window) {
    return partOf<BrowserPane>(window);
}
inline BrowserMenus& menusOf(QWidget& window) {
    return *browserOf(window).menus();
}
inline SendListController& sendListOf(QWidget& window) {
    return partOf<SendListController>(window);
}
inline TransferController& transfersOf(QWidget& window) {
    return partOf<TransferController>(window);
}
inline QLabel* statusLineOf(QWidget& window) {
    return window.findChild<QLabel*>(QString::number(id::StatusLine));
}
// The command button at `position` (0 = first placed).
inline CommandButton* commandButtonOf(QWidget& window, int position) {
    return window.findChild<CommandButton*>(
        QString::number(kCommandButtonIds[size_t(position)]));
}
// Runs a command as a button, a menu item or a key would.
inline void command(QWidget& window, int commandId) {
    QAction* action =
        window.findChild<QAction*>(QString::number(commandId), Qt::FindDirectChildrenOnly);
    ASSERT_NE(action, nullptr) << commandId;
    action->trigger();
}
inline QString sendListText(QWidget& window, int row, int column) {
    const SendListModel* model = sendListOf(window).model();
    return model->data(model->index(row, column), Qt::DisplayRole).toString();
}
inline void selectSendListRow(QWidget& window, int row) {
    QTreeView* view = sendListOf(window).view();
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace zapfer::test
