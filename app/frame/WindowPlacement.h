#pragma once

#include <QList>
#include <QRect>

#include <optional>

namespace tonemirror::app {

// The stored "Window*" values.
struct StoredPlacement {
    QRect normal;
    bool maximized = false;
};

// The stored rectangle is used only when it lies wholly inside the available area of the screen it
// overlaps most; a rectangle that overlaps no screen is refused. `available` holds each screen's
// available geometry.
bool placementFits(const QRect& rect, const QList<QRect>& available);

// Reads the five values from left/top/right/bottom (signed, stored as numbers) and maximized.
// nullopt unless all five are present and the rectangle is not empty.
std::optional<StoredPlacement> storedPlacement(std::optional<std::uint32_t> left,
                                               std::optional<std::uint32_t> top,
                                               std::optional<std::uint32_t> right,
                                               std::optional<std::uint32_t> bottom,
                                               std::optional<std::uint32_t> maximized);

} // namespace tonemirror::app
