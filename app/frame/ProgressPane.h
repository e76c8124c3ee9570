#pragma once

#include <QWidget>

#include <cstdint>

namespace tonemirror::app {

// Status-bar pane 3: files done of files queued as a framed green bar with "42.5%" on it.
class ProgressPane : public QWidget {
    Q_OBJECT
public:
    explicit ProgressPane(QWidget* parent = nullptr);

    void setCounts(std::int32_t done, std::int32_t queued);
    double fraction() const;
    QString percentText() const;
    QSize sizeHint() const override;

    // Bottom colour of the gradient for a fraction: RGB(255 - k, 255, 255 - k), k = p * 170.
    static QColor bottomColour(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::int32_t done_ = 0;
    std::int32_t queued_ = 0;
};

} // namespace tonemirror::app
