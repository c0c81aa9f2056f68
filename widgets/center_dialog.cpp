#include "center_dialog.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace zapfer {

void CenterDialog(QWidget* dialog) {
    if (!dialog->testAttribute(Qt::WA_Resized))
        dialog->adjustSize();
    const QWidget* parent = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
    const QScreen* screen =
        parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 640, 480);
    const QRect reference = parent ? parent->frameGeometry() : screenRect;
    const QSize size = dialog->frameGeometry().size();
    const int w = size.width();
    const int h = size.height();
    // Integer halves truncating toward zero, as the placement always was.
    if (reference.width() > w && reference.height() > h) {
        dialog->move(reference.left() + (reference.width() - w) / 2,
                     reference.top() + (reference.height() - h) / 2);
    } else {
        dialog->move(screenRect.left() + (screenRect.width() - w) / 2,
                     screenRect.top() + (screenRect.height() - h) / 2);
    }
}

} // namespace zapfer
