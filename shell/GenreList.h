#pragma once

#include <string>
#include <vector>

namespace tonemirror::shell {

// The 148 genre names of the standard tag genre list with its later additions, by id (0 to 147), in
// the spellings the tag editor offers and writes.
const std::vector<std::u16string>& genreNames();

} // namespace tonemirror::shell
