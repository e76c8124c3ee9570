#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// Puts a value at the top of a recent-values list, newest first: an equal entry (exact comparison)
// moves up instead of repeating, and the oldest entries beyond `limit` fall out. Empty values are
// not remembered.
void pushRecentValue(std::vector<std::u16string>& values, std::u16string_view value, std::size_t limit);

} // namespace tonemirror::shell
