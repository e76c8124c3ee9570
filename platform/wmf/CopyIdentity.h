#pragma once

#include "plugin-api/PluginApi.h"

#include <sys/stat.h>

namespace tonemirror::wmf {

// A file replaced by a tagged copy must stay the same file to everyone else: the same owner, group,
// permission bits, access lists and extended attributes, and the only name it has. Where that cannot
// be kept the write is refused, not done in place: a rewrite in place that is interrupted leaves a
// damaged file behind, and rename-or-nothing is what makes every other failure harmless.

// E_HARD_LINKED when the file has further names (the rename would leave them on the old content).
HResult checkSingleName(const struct stat& original);

// Gives the new, still empty copy the original's extended attributes (access lists among them),
// permission bits, group and owner, in the order the system lets them be set. E_OTHER_OWNER when the
// owner cannot be kept, E_ATTRIBUTES_LOST when the group or an attribute cannot.
HResult copyIdentity(int original, int copy, const struct stat& st);

} // namespace tonemirror::wmf
