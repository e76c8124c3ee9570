#include "app/frame/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cstdint>

namespace tonemirror::app {

bool placementFits(const QRect& rect, const QList<QRect>& available) {
    qint64 bestArea = 0;
    const QRect* best = nullptr;
    for (const QRect& screen : available) {
        const QRect overlap = rect.intersected(screen);
        const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = &screen;
        }
    }
    return best != nullptr && best->contains(rect);
}

void showAtPlacement(QWidget& window, const shell::WindowPreferences& stored) {
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    if (stored.placement && placementFits(normalRect(*stored.placement), screens)) {
        window.setGeometry(normalRect(*stored.placement));
        stored.maximized ? window.showMaximized() : window.show();
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window.resize(area.width() * 3 / 4, area.height() * 3 / 4);
    }
    window.show();
}

void takePlacement(const QWidget& window, shell::WindowPreferences& into) {
    const bool maximized = window.isMaximized();
    into.placement =
        placementRect(maximized || window.isMinimized() ? window.normalGeometry() : window.geometry());
    into.maximized = maximized;
}

// Right and bottom are exclusive. The stored numbers may be anything: edges beyond any screen, or a
// size that does not fit in an int, give an empty rectangle, which fits no screen.
QRect normalRect(const shell::WindowPreferences::Rect& rect) {
    constexpr std::int64_t kFar = 1 << 20;
    const std::int64_t width = std::int64_t(rect.right) - rect.left;
    const std::int64_t height = std::int64_t(rect.bottom) - rect.top;
    const auto near = [&](std::int64_t v) { return v > -kFar && v < kFar; };
    if (!near(rect.left) || !near(rect.top) || width <= 0 || height <= 0 || width >= kFar || height >= kFar) {
        return {};
    }
    return QRect(QPoint(rect.left, rect.top), QSize(int(width), int(height)));
}

shell::WindowPreferences::Rect placementRect(const QRect& normal) {
    return {normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height()};
}

} // namespace tonemirror::app
