#include "app/frame/ProgressPane.h"

#include "app/common/RoundedBar.h"

#include <QPainter>

#include <algorithm>

namespace tonemirror::app {

ProgressPane::ProgressPane(QWidget* parent) : QWidget(parent) {
    setFixedWidth(150);
}

void ProgressPane::setCounts(std::int32_t done, std::int32_t queued) {
    if (done == done_ && queued == queued_) {
        return;
    }
    done_ = done;
    queued_ = queued;
    update();
}

double ProgressPane::fraction() const {
    if (queued_ <= 0) {
        return 0.0;
    }
    return std::min(1.0, static_cast<double>(done_) / queued_);
}

QString ProgressPane::percentText() const {
    return QString::number(fraction() * 100.0, 'f', 1) + QLatin1Char('%');
}

QSize ProgressPane::sizeHint() const {
    return {150, fontMetrics().height() + 8};
}

QColor ProgressPane::bottomColour(double fraction) {
    const int k = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 170.0);
    return QColor(255 - k, 255, 255 - k);
}

void ProgressPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double p = fraction();
    const QRect frame = paintBarFrame(painter, rect(), palette());
    paintBarFill(painter, frame, p, QColor(170, 255, 170), bottomColour(p));
    painter.setPen(Qt::black);
    const QString text = fontMetrics().elidedText(percentText(), Qt::ElideRight, width());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text);
}

} // namespace tonemirror::app
