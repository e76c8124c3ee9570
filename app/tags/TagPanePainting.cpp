#include "app/tags/TagPanePainting.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace tonemirror::app {

QFont tagPaneFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(16);
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

void paintTagPaneBackground(QPainter& painter, const QRect& area) {
    QLinearGradient gradient(area.topLeft(), area.bottomLeft());
    gradient.setColorAt(0, QColor(177, 195, 224));
    gradient.setColorAt(1, Qt::white);
    painter.fillRect(area, gradient);
}

void drawTagPaneLabel(QPainter& painter, const QRect& box, const QString& text) {
    painter.setFont(tagPaneFont());
    painter.setPen(Qt::black);
    const QString shown = painter.fontMetrics().elidedText(text, Qt::ElideRight, box.width());
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

TagPaneColumns tagPaneColumns(int clientWidth) {
    const int w = std::clamp(clientWidth, 500, 1000);
    TagPaneColumns columns;
    columns.rightBoxWidth = (w - 220) / 4;
    columns.leftBoxWidth = w - 220 - columns.rightBoxWidth;
    columns.rightLabelX = columns.leftBoxWidth + 115;
    columns.rightBoxX = columns.leftBoxWidth + 210;
    return columns;
}

} // namespace tonemirror::app
