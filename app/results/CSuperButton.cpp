#include "app/results/CSuperButton.h"

#include <QApplication>
#include <QFontInfo>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdint>

namespace tonemirror::app {

const CSuperButton::Colours CSuperButton::kNormalColours = {QColor(10, 59, 151),   QColor(111, 155, 228),
                                                            QColor(101, 130, 186), QColor(63, 101, 171),
                                                            QColor(13, 62, 154),   QColor(71, 125, 217)};
const CSuperButton::Colours CSuperButton::kPressedColours = {QColor(151, 59, 10),   QColor(228, 155, 111),
                                                             QColor(186, 130, 101), QColor(171, 101, 63),
                                                             QColor(154, 62, 13),   QColor(217, 125, 71)};

namespace {

// The rounded rectangles at eight times the size, without antialiasing: every sample is either
// painted (opaque) or not.
QImage drawSamples(const QSize& size, const CSuperButton::Colours& colours) {
    const int s = CSuperButton::kSupersampling;
    const int w = size.width() * s;
    const int h = size.height() * s;
    const qreal r = CSuperButton::kRadius * s;
    QImage samples(w, h, QImage::Format_ARGB32);
    samples.fill(Qt::transparent);
    QPainter painter(&samples);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colours[0]);
    painter.drawRoundedRect(QRectF(0, 0, w, h), r, r);
    painter.setBrush(colours[1]);
    painter.drawRoundedRect(QRectF(s, s, w - 2 * s, h - 2 * s), r - s, r - s);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(2 * s, 2 * s, w - 4 * s, h - 4 * s), r - 2 * s, r - 2 * s);
    painter.setClipPath(inner);
    const int middle = h / 2;
    QLinearGradient upper(0, 2 * s, 0, middle);
    upper.setColorAt(0.0, colours[2]);
    upper.setColorAt(1.0, colours[3]);
    painter.fillRect(QRect(2 * s, 2 * s, w - 4 * s, middle - 2 * s), upper);
    QLinearGradient lower(0, middle, 0, h - 2 * s);
    lower.setColorAt(0.0, colours[4]);
    lower.setColorAt(1.0, colours[5]);
    painter.fillRect(QRect(2 * s, middle, w - 4 * s, h - 2 * s - middle), lower);
    return samples;
}

} // namespace

QImage CSuperButton::render(const QSize& size, const Colours& colours) {
    if (size.isEmpty()) {
        return {};
    }
    const QImage samples = drawSamples(size, colours);
    const int s = kSupersampling;
    constexpr int kBlock = kSupersampling * kSupersampling;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            int painted = 0;
            int red = 0;
            int green = 0;
            int blue = 0;
            for (int sy = y * s; sy < (y + 1) * s; ++sy) {
                const auto* in = reinterpret_cast<const QRgb*>(samples.constScanLine(sy));
                for (int sx = x * s; sx < (x + 1) * s; ++sx) {
                    if (qAlpha(in[sx]) == 0) {
                        continue;
                    }
                    ++painted;
                    red += qRed(in[sx]);
                    green += qGreen(in[sx]);
                    blue += qBlue(in[sx]);
                }
            }
            // Sums over the whole block: the colours come out premultiplied by the coverage.
            out[x] = qRgba(red / kBlock, green / kBlock, blue / kBlock, 255 * painted / kBlock);
        }
    }
    return image;
}

CSuperButton::CSuperButton(int command, const QString& text, QWidget* parent)
    : QWidget(parent), command_(command), text_(text) {
    setObjectName(QStringLiteral("CSuperButton%1").arg(command));
    setAttribute(Qt::WA_Hover);
    fade_.setInterval(kFadeIntervalMs);
    connect(&fade_, &QTimer::timeout, this, &CSuperButton::fadeStep);
}

void CSuperButton::setText(const QString& text) {
    text_ = text;
    update();
}

void CSuperButton::resizeEvent(QResizeEvent*) {
    if (!fontMade_) {
        // The menu font, its height larger by 2 pixels.
        font_ = QApplication::font("QMenu");
        font_.setPixelSize(QFontInfo(font_).pixelSize() + 2);
        fontMade_ = true;
    }
    normal_ = render(size(), kNormalColours);
    pressedImage_ = render(size(), kPressedColours);
}

void CSuperButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(opacity_ / 255.0);
    painter.drawImage(0, 0, pressed_ ? pressedImage_ : normal_);
    painter.setOpacity(1.0);
    painter.setPen(Qt::white);
    painter.setFont(font_);
    const QRect area = rect().adjusted(-5, -5, 5, 5);
    const QString shown = QFontMetrics(font_).elidedText(text_, Qt::ElideRight, area.width());
    painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, shown);
}

void CSuperButton::enterEvent(QEnterEvent*) {
    opacity_ = 255;
    fade_.stop();
    update();
}

void CSuperButton::leaveEvent(QEvent*) {
    fade_.start();
}

void CSuperButton::fadeStep() {
    opacity_ = std::max(kRestingOpacity, opacity_ - kFadeStep);
    if (opacity_ == kRestingOpacity) {
        fade_.stop();
    }
    update();
}

void CSuperButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    pressed_ = true;
    opacity_ = 255;
    update();
}

// The command goes out wherever the pointer is released.
void CSuperButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        return;
    }
    pressed_ = false;
    opacity_ = 255;
    update();
    emit commandRequested(command_);
}

} // namespace tonemirror::app
