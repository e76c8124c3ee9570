#pragma once

#include <QFont>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>

namespace tonemirror::app {

// A rounded, owner-drawn button of the details pane. Its normal and pressed images are drawn at
// eight times the size and reduced with per-pixel coverage, so the curved rim is smooth on any
// background. It is fully opaque under the pointer and fades back to 150 of 255 when the pointer
// leaves. A click sends its command number.
class CSuperButton : public QWidget {
    Q_OBJECT
public:
    // Outer rim, inner ring, upper gradient top and bottom, lower gradient top and bottom.
    using Colours = std::array<QColor, 6>;
    static const Colours kNormalColours;
    static const Colours kPressedColours;
    static constexpr int kRadius = 10;
    static constexpr int kSupersampling = 8;
    static constexpr int kRestingOpacity = 150;
    static constexpr int kFadeIntervalMs = 33;
    static constexpr int kFadeStep = 10;

    CSuperButton(int command, const QString& text, QWidget* parent = nullptr);

    int command() const { return command_; }
    QString text() const { return text_; }
    void setText(const QString& text);
    int opacity() const { return opacity_; }
    bool isPressed() const { return pressed_; }
    bool isFading() const { return fade_.isActive(); }
    const QImage& normalImage() const { return normal_; }
    const QImage& pressedImage() const { return pressedImage_; }

    // The button's w x h image in premultiplied ARGB: the rounded rectangles drawn at eight times the
    // size, each pixel the average of its 8 x 8 samples with alpha = the share of painted samples.
    static QImage render(const QSize& size, const Colours& colours);

    Q_SIGNAL void commandRequested(int command);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void fadeStep();

    int command_;
    QString text_;
    QImage normal_;
    QImage pressedImage_;
    QFont font_;
    bool fontMade_ = false;
    int opacity_ = kRestingOpacity;
    bool pressed_ = false;
    QTimer fade_;
};

} // namespace tonemirror::app
