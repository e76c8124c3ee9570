#pragma once

#include "engine/DuplicatePair.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tonemirror::engine {

// An M3U playlist of every row: "#EXTM3U", then both paths of each row in row order, each line ended
// by CR LF. A path is written as its own native bytes: that is what names the file, and a character
// set could not hold every name (under the C locale every non-ASCII letter would become '?'). A row
// whose first path is empty is left out whole, and so is a row with a path holding CR or LF, which
// no playlist line can carry; `leftOut`, when given, receives how many rows were left out for that.
// A file listed in several rows is written that many times.
std::string formatPlaylist(const std::vector<DuplicatePair>& rows, std::size_t* leftOut = nullptr);

// One path in the locale's character set, '?' for what it cannot represent.
std::string toLocaleText(const std::u16string& text);

} // namespace tonemirror::engine
