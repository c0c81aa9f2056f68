#include "window_buttons.h"

#include "glyphs.h"
#include "string_table.h"

#include <QPainter>

namespace zapfer {

CommandButton::CommandButton(int commandId, int glyph, QWidget* parent)
    : QAbstractButton(parent), m_commandId(commandId), m_glyph(glyph) {
    setObjectName(QString::number(commandId));
    // Only a glyph shows: a screen reader and the mouse pointer need its name.
    const QString name = loadString(commandId + str::CommandNameOffset);
    setAccessibleName(name);
    setToolTip(name);
    // Tab reaches it and Space presses it; a click leaves the focus where it was.
    setFocusPolicy(Qt::TabFocus);
}

int CommandButton::shownGlyph() const {
    return isEnabled() ? m_glyph : kDisabledGlyph;
}

bool CommandButton::shownPressed() const {
    return isEnabled() && isDown();
}

void CommandButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintButtonFrame(painter, QPointF(0, 0), shownPressed());
    paintGlyph(painter, QPointF(8, 8), shownGlyph());
    if (hasFocus())
        paintFocusFrame(painter, QRectF(3, 3, 26, 26));
}

CaptionButton::CaptionButton(int commandId, Align align, QWidget* parent)
    : QAbstractButton(parent), m_align(align) {
    setObjectName(QString::number(commandId));
    // The caption names the folder or the sort key; the tooltip the command.
    const QString name = loadString(commandId + str::CommandNameOffset);
    setToolTip(name);
    setAccessibleDescription(name);
    setFocusPolicy(Qt::TabFocus);
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
}

void CaptionButton::setCaption(const QString& caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    setAccessibleName(caption);
    update();
}

void CaptionButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    const int w = painter.fontMetrics().horizontalAdvance(m_caption);
    const int arrowY = (height() - 16) / 2;
    if (m_align == Align::Left) {
        painter.drawText(QRect(2, 0, width() - 2, height()), Qt::AlignLeft | Qt::AlignVCenter,
                         m_caption);
        paintDropArrow(painter, QPointF(w + 4, arrowY));
    } else {
        painter.drawText(QRect(0, 0, width() - 21, height()), Qt::AlignRight | Qt::AlignVCenter,
                         m_caption);
        paintDropArrow(painter, QPointF(width() - 17, arrowY));
    }
    const int left = m_align == Align::Left ? 0 : width() - w - 23;
    if (isDown()) {
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(left, 0, w + 22, height() - 1));
    }
    if (hasFocus())
        paintFocusFrame(painter, QRectF(left + 1, 1, w + 21, height() - 2));
}

} // namespace zapfer
