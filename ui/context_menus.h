#pragma once

#include <QObject>

class QAction;
class QMenu;
class QWidget;

namespace zapfer {

// "CONTEXT1" (at most one FileList row selected), "CONTEXT2" (two or more)
// and the SendList's menu, made once with the window. Each item's object
// name is its command number; choosing one emits `command`. The enabled
// states of "Open", "Run...", "Rename..." and "Properties..." are set before
// each showing.
class ContextMenus : public QObject {
    Q_OBJECT
public:
    explicit ContextMenus(QWidget* owner);

    QMenu* single() const { return m_single; }
    QMenu* multiple() const { return m_multiple; }
    // The SendList's menu: "History...".
    QMenu* sendList() const { return m_sendList; }
    // The item of `commandId` in "CONTEXT1", null when it has none.
    QAction* singleItem(int commandId) const;

    // Before "CONTEXT1" shows: with no row, the row commands are greyed;
    // an executable file offers "Run...", anything else "Open".
    void prepareSingle(bool haveRow, bool executable);

Q_SIGNALS:
    void command(int commandId);

private:
    QMenu* build(const char* name, std::initializer_list<int> ids);

    QMenu* m_single = nullptr;
    QMenu* m_multiple = nullptr;
    QMenu* m_sendList = nullptr;
};

} // namespace zapfer
