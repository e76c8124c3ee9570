#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QPainter;

namespace tonemirror::app {

// The look shared by the tag editor and the conversion window: a gradient from a light blue at the
// top to white at the bottom, "Tahoma" 16 pixels, labels in black on one line, vertically centred,
// cut with an ellipsis.
QFont tagPaneFont();
void paintTagPaneBackground(QPainter& painter, const QRect& area);
void drawTagPaneLabel(QPainter& painter, const QRect& box, const QString& text);

// The tag editor's two columns for a client width (kept between 500 and 1000 pixels).
struct TagPaneColumns {
    int leftBoxX = 105;
    int leftBoxWidth = 0;
    int rightLabelX = 0;
    int rightBoxX = 0;
    int rightBoxWidth = 0;
};
TagPaneColumns tagPaneColumns(int clientWidth);

} // namespace tonemirror::app
