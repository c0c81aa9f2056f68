#pragma once

#include <QIcon>

class QPainter;
class QPointF;
class QRectF;

namespace zapfer {

// The main window's small pictures, drawn as vector shapes so they stay
// crisp at any device pixel ratio.

// Glyph index: the command button's position (0 Add, 1 Remove, 2 Send,
// 3 Settings, 4 About, 5 Help, 6 Exit), or kDisabledGlyph for any disabled
// button. Drawn in the 16 x 16 box whose top-left corner is `origin`.
inline constexpr int kDisabledGlyph = 7;
inline constexpr int kGlyphCount = 8;
void paintGlyph(QPainter& painter, const QPointF& origin, int glyph);

// The 32 x 32 face of a command button: a thin outline when up, a thick one
// when pressed.
void paintButtonFrame(QPainter& painter, const QPointF& origin, bool pressed);

// The dotted frame along `box` that marks the button holding the keyboard
// focus.
void paintFocusFrame(QPainter& painter, const QRectF& box);

// The drop-down arrow after the path and sort captions, 16 x 16.
void paintDropArrow(QPainter& painter, const QPointF& origin);

// The program's icon (the beam on a blue disc), also installed for the
// desktop's application menu.
QIcon zapferIcon();

} // namespace zapfer
