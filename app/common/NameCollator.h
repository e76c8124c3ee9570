#pragma once

#include <QCollator>

namespace tonemirror::app {

// Compares names as people read them: the user's collation, without regard to case, digits as
// numbers ("track9" before "track10"). The C locale has no collation rules, so English stands in.
QCollator nameCollator();

} // namespace tonemirror::app
