#pragma once

#include "shell/Preferences.h"

#include <QList>
#include <QRect>

class QWidget;

namespace tonemirror::app {

// The stored rectangle is used only when it lies wholly inside the available area of the screen it
// overlaps most; a rectangle that overlaps no screen is refused. `available` holds each screen's
// available geometry.
bool placementFits(const QRect& rect, const QList<QRect>& available);

// Shows the window at the stored placement when it fits a screen, else at three quarters of the
// primary screen's available area.
void showAtPlacement(QWidget& window, const shell::WindowPreferences& stored);
// The window's normal rectangle and whether it is maximised, to store at close.
void takePlacement(const QWidget& window, shell::WindowPreferences& into);

// The stored window rectangle as Qt has it, and back.
QRect normalRect(const shell::WindowPreferences::Rect& rect);
shell::WindowPreferences::Rect placementRect(const QRect& normal);

} // namespace tonemirror::app
