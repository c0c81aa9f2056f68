#pragma once

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <functional>

// Works the next popup menu that opens while a command runs its menu: reads
// its entries, then chooses the one `pick` returns (null: dismisses it).
// Gives up after about five seconds and closes whatever popup is open, so a
// test never hangs on a menu.
class PopupDriver {
public:
    explicit PopupDriver(std::function<QAction*(QMenu*)> pick) : m_pick(std::move(pick)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { poll(); });
        m_timer.start();
    }

    bool seen = false;
    QStringList texts;

private:
    void poll() {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (++m_tries > 500) {
            m_timer.stop();
            if (QWidget* popup = QApplication::activePopupWidget())
                popup->close();
            return;
        }
        if (!menu || !menu->isVisible())
            return;
        m_timer.stop();
        seen = true;
        for (QAction* action : menu->actions())
            texts.append(action->text());
        if (QAction* chosen = m_pick(menu)) {
            menu->setActiveAction(chosen);
            QTest::keyClick(menu, Qt::Key_Return);
        } else {
            QTest::keyClick(menu, Qt::Key_Escape);
        }
    }

    std::function<QAction*(QMenu*)> m_pick;
    QTimer m_timer;
    int m_tries = 0;
};

// The action of `menu` whose text is `text`.
inline QAction* actionNamed(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}
