#pragma once

#include "engine/DuplicatePair.h"

#include <string>
#include <vector>

namespace tonemirror::engine {

// An M3U playlist of every row: "#EXTM3U", then both paths of each row in row order, each line ended
// by CR LF, in the locale's character set (characters it cannot represent become '?'). A row whose
// first path is empty is left out whole. A file listed in several rows is written that many times.
std::string formatPlaylist(const std::vector<DuplicatePair>& rows);

// One path in the locale's character set, '?' for what it cannot represent.
std::string toLocaleText(const std::u16string& text);

} // namespace tonemirror::engine
