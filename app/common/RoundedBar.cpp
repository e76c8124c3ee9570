#include "app/common/RoundedBar.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPalette>

#include <algorithm>

namespace tonemirror::app {

namespace {

// A rounded outline whose corners are ellipses of the given size, on the pixels of `r` (the
// right and bottom edges excluded, as a window-system rectangle).
void roundedOutline(QPainter& painter, const QRect& r, int corner, const QColor& pen, const QBrush& fill) {
    if (r.width() < 2 || r.height() < 2) {
        return;
    }
    painter.setPen(QPen(pen, 1));
    painter.setBrush(fill);
    const QRectF pixels(r.left() + 0.5, r.top() + 0.5, r.width() - 1.0, r.height() - 1.0);
    painter.drawRoundedRect(pixels, corner / 2.0, corner / 2.0);
}

} // namespace

QRect paintBarFrame(QPainter& painter, const QRect& cell, const QPalette& palette) {
    const QRect frame = cell.adjusted(3, 2, -3, -2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    roundedOutline(painter, frame, 5, palette.color(QPalette::Dark), palette.color(QPalette::Base));
    roundedOutline(painter, frame.adjusted(1, 1, -1, -1), 2, palette.color(QPalette::Button), Qt::NoBrush);
    painter.restore();
    return frame;
}

QRect barArea(const QRect& frame) {
    return frame.adjusted(3, 3, -3, -3);
}

void paintBarFill(QPainter& painter, const QRect& frame, double fraction, const QColor& top,
                  const QColor& bottom) {
    const int width = static_cast<int>(barArea(frame).width() * std::clamp(fraction, 0.0, 1.0));
    paintBarFillWidth(painter, frame, width, top, bottom);
}

void paintBarFillWidth(QPainter& painter, const QRect& frame, int width, const QColor& top,
                       const QColor& bottom) {
    const QRect inner = barArea(frame);
    width = std::min(width, inner.width());
    if (width <= 0 || inner.height() <= 0) {
        return;
    }
    const QRect bar(inner.left(), inner.top(), width, inner.height());
    QLinearGradient gradient(bar.topLeft(), bar.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    painter.fillRect(bar, gradient);
}

} // namespace tonemirror::app
