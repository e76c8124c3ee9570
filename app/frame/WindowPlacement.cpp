#include "app/frame/WindowPlacement.h"

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

std::optional<StoredPlacement> storedPlacement(std::optional<std::uint32_t> left,
                                               std::optional<std::uint32_t> top,
                                               std::optional<std::uint32_t> right,
                                               std::optional<std::uint32_t> bottom,
                                               std::optional<std::uint32_t> maximized) {
    if (!left || !top || !right || !bottom || !maximized) {
        return std::nullopt;
    }
    // Window edges are signed screen coordinates stored as 32-bit numbers; right and bottom are
    // exclusive.
    const auto l = static_cast<std::int32_t>(*left);
    const auto t = static_cast<std::int32_t>(*top);
    const auto r = static_cast<std::int32_t>(*right);
    const auto b = static_cast<std::int32_t>(*bottom);
    if (r <= l || b <= t) {
        return std::nullopt;
    }
    StoredPlacement placement;
    placement.normal = QRect(QPoint(l, t), QSize(r - l, b - t));
    placement.maximized = *maximized == 1;
    return placement;
}

} // namespace tonemirror::app
