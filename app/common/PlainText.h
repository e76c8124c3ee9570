#pragma once

#include <QString>

namespace tonemirror::app {

// A tool tip that shows `text` (a file name or path) as it is: Qt takes any tip that looks like
// markup for rich text, and a file may well be named "<b>.mp3".
QString plainToolTip(const QString& text);

} // namespace tonemirror::app
