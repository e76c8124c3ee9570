#pragma once

namespace tonemirror::os {

// Gives the calling thread the lowest scheduling priority, so scans never slow the desktop down.
// Returns false when the system refuses.
bool setLowestThreadPriority();

} // namespace tonemirror::os
