#pragma once

#include <QColor>
#include <QRect>

class QPainter;
class QPalette;

namespace tonemirror::app {

// The framed gradient bar of the progress pane and the results list's percent cells.
//
// `cell` is the area to draw in. The frame sits on the cell inset by 3 pixels left and right and
// 2 pixels top and bottom: a rounded outline (5 x 5 corners) in the button-shadow colour filled with
// the window colour, and 1 pixel further in a second outline (2 x 2 corners) in the button-face
// colour. Returns the frame rectangle.
QRect paintBarFrame(QPainter& painter, const QRect& cell, const QPalette& palette);

// Fills the part `fraction` (0..1) of `frame` inset by 3 pixels, from its left edge, with a
// vertical gradient from `top` to `bottom`. The width is truncated to whole pixels.
void paintBarFill(QPainter& painter, const QRect& frame, double fraction, const QColor& top,
                  const QColor& bottom);

// The bar area of `frame` (the frame inset by 3 pixels on every side).
QRect barArea(const QRect& frame);
// Fills `width` pixels of the bar area from its left edge (at most its whole width).
void paintBarFillWidth(QPainter& painter, const QRect& frame, int width, const QColor& top,
                       const QColor& bottom);

} // namespace tonemirror::app
