#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace tonemirror::app {

// Converts dialog units to pixels through the dialog font's average character size, as dialog
// templates are laid out: x = units * average width / 4, y = units * height / 8.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int averageWidth, int height) : baseX_(averageWidth), baseY_(height) {}

    int x(int units) const;
    int y(int units) const;
    QRect rect(int left, int top, int width, int height) const;

    int averageWidth() const { return baseX_; }
    int height() const { return baseY_; }

    // Places `widget` at a rectangle given in dialog units.
    void place(QWidget* widget, int left, int top, int width, int height) const;

private:
    int baseX_;
    int baseY_;
};

// A font of the given family and point size, falling back to installed look-alikes when the
// family is missing.
QFont dialogFont(const QString& family, int pointSize, bool bold = false);

} // namespace tonemirror::app
