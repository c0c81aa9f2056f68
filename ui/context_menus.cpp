#include "context_menus.h"

#include "control_ids.h"

#include <QCoreApplication>
#include <QMenu>

namespace zapfer {

namespace {

constexpr int kSeparator = 0;

QString itemText(int commandId) {
    switch (commandId) {
    case id::AddToSendList:
        return QCoreApplication::translate("ContextMenus", "Add to Send List");
    case id::Rename:
        return QCoreApplication::translate("ContextMenus", "Rename...");
    case id::Properties:
        return QCoreApplication::translate("ContextMenus", "Properties...");
    case id::Move:
        return QCoreApplication::translate("ContextMenus", "Move...");
    case id::CopyTo:
        return QCoreApplication::translate("ContextMenus", "Copy To...");
    case id::Open:
        return QCoreApplication::translate("ContextMenus", "Open");
    case id::Run:
        return QCoreApplication::translate("ContextMenus", "Run...");
    case id::NewFolder:
        return QCoreApplication::translate("ContextMenus", "New Folder...");
    case id::SelectAll:
        return QCoreApplication::translate("ContextMenus", "Select All");
    case id::DeselectAll:
        return QCoreApplication::translate("ContextMenus", "De-Select All");
    case id::Delete:
        return QCoreApplication::translate("ContextMenus", "Delete");
    case id::History:
        return QCoreApplication::translate("ContextMenus", "History...");
    default:
        return {};
    }
}

} // namespace

ContextMenus::ContextMenus(QWidget* owner) : QObject(owner) {
    m_single = build("CONTEXT1", {id::AddToSendList, id::Rename, id::Properties, id::Move,
                                  id::CopyTo, id::Open, id::Run, id::NewFolder, kSeparator,
                                  id::SelectAll, id::DeselectAll, kSeparator, id::Delete});
    m_multiple =
        build("CONTEXT2", {id::AddToSendList, id::Move, id::CopyTo, id::NewFolder, kSeparator,
                           id::SelectAll, id::DeselectAll, kSeparator, id::Delete});
    m_sendList = build("SENDLIST", {id::History});
}

QMenu* ContextMenus::build(const char* name, std::initializer_list<int> ids) {
    auto* menu = new QMenu(qobject_cast<QWidget*>(parent()));
    menu->setObjectName(QString::fromLatin1(name));
    for (int commandId : ids) {
        if (commandId == kSeparator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(itemText(commandId));
        action->setObjectName(QString::number(commandId));
        connect(action, &QAction::triggered, this,
                [this, commandId] { Q_EMIT command(commandId); });
    }
    return menu;
}

QAction* ContextMenus::singleItem(int commandId) const {
    return m_single->findChild<QAction*>(QString::number(commandId), Qt::FindDirectChildrenOnly);
}

void ContextMenus::prepareSingle(bool haveRow, bool executable) {
    singleItem(id::Run)->setEnabled(haveRow && executable);
    singleItem(id::Open)->setEnabled(haveRow && !executable);
    singleItem(id::Rename)->setEnabled(haveRow);
    singleItem(id::Properties)->setEnabled(haveRow);
}

} // namespace zapfer
