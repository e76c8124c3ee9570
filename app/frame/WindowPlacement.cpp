#include "app/frame/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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

// Right and bottom are exclusive.
QRect normalRect(const shell::WindowPreferences::Rect& rect) {
    return QRect(QPoint(rect.left, rect.top), QSize(rect.right - rect.left, rect.bottom - rect.top));
}

shell::WindowPreferences::Rect placementRect(const QRect& normal) {
    return {normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height()};
}

} // namespace tonemirror::app
