#include "glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zapfer {

namespace {

const QColor kGreen(0x1e, 0x9e, 0x3a);
const QColor kRed(0xd0, 0x26, 0x26);
const QColor kInk(0x20, 0x30, 0x50);
const QColor kBlue(0x1f, 0x5f, 0xbf);

void arrow(QPainter& p, bool right, const QColor& colour) {
    QPainterPath path;
    if (right) {
        path.moveTo(1, 6);
        path.lineTo(8, 6);
        path.lineTo(8, 2);
        path.lineTo(15, 8);
        path.lineTo(8, 14);
        path.lineTo(8, 10);
        path.lineTo(1, 10);
    } else {
        path.moveTo(15, 6);
        path.lineTo(8, 6);
        path.lineTo(8, 2);
        path.lineTo(1, 8);
        path.lineTo(8, 14);
        path.lineTo(8, 10);
        path.lineTo(15, 10);
    }
    path.closeSubpath();
    p.setPen(QPen(colour.darker(140), 0.8));
    p.setBrush(colour);
    p.drawPath(path);
}

// A dot with arcs radiating to the right.
void beam(QPainter& p, const QColor& colour) {
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(3.5, 8), 2.2, 2.2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap));
    for (int i = 1; i <= 3; ++i) {
        const double r = 3.6 * i;
        p.drawArc(QRectF(3.5 - r, 8 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
}

void wrench(QPainter& p) {
    p.setPen(QPen(kInk, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 13), QPointF(9.5, 6.5));
    p.setPen(QPen(kInk, 2.2, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 1.5, 7, 7), 200 * 16, 250 * 16);
}

void circledText(QPainter& p, const QString& text, const QColor& colour) {
    p.setPen(QPen(colour, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    QFont font = p.font();
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, text);
}

void cross(QPainter& p, const QColor& colour, double width) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3, 3), QPointF(13, 13));
    p.drawLine(QPointF(13, 3), QPointF(3, 13));
}

} // namespace

void paintGlyph(QPainter& painter, const QPointF& origin, int glyph) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(origin);
    switch (glyph) {
    case 0:
        arrow(painter, true, kGreen);
        break;
    case 1:
        arrow(painter, false, kRed);
        break;
    case 2:
        beam(painter, kBlue);
        break;
    case 3:
        wrench(painter);
        break;
    case 4:
        circledText(painter, QStringLiteral("C"), kInk);
        break;
    case 5:
        circledText(painter, QStringLiteral("?"), kBlue);
        break;
    case 6:
        cross(painter, kRed, 2.4);
        break;
    default:
        beam(painter, kRed);
        painter.setPen(QPen(kRed, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(1.5, 14.5), QPointF(14.5, 1.5));
        break;
    }
    painter.restore();
}

void paintButtonFrame(QPainter& painter, const QPointF& origin, bool pressed) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double width = pressed ? 2.5 : 1.0;
    const double inset = width / 2 + 0.5;
    painter.setPen(QPen(QColor(0x60, 0x70, 0x80), width));
    painter.setBrush(pressed ? QColor(0xdd, 0xe4, 0xee) : QColor(0xf6, 0xf7, 0xf9));
    painter.drawRoundedRect(
        QRectF(origin.x() + inset, origin.y() + inset, 32 - 2 * inset, 32 - 2 * inset), 6, 6);
    painter.restore();
}

void paintFocusFrame(QPainter& painter, const QRectF& box) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kBlue, 1.0, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.restore();
}

void paintDropArrow(QPainter& painter, const QPointF& origin) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(origin);
    QPainterPath path;
    path.moveTo(4, 7);
    path.lineTo(12, 7);
    path.lineTo(8, 12);
    path.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(kInk);
    painter.drawPath(path);
    painter.restore();
}

QIcon zapferIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        beam(p, Qt::white);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace zapfer
