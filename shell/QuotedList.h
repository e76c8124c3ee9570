#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// One stored text holding a list: each item as double quote, item, double quote, semicolon. Items
// cannot hold double quotes, so they are dropped from every item.
std::u16string formatQuotedList(const std::vector<std::u16string>& items);

// The text between the 1st and 2nd double quote is item 1, between the 3rd and 4th item 2, and so on;
// what stands between a closing and the next opening quote is skipped, and a final unpaired quote ends
// the list.
std::vector<std::u16string> parseQuotedList(std::u16string_view text);

// The item without its double quotes.
std::u16string stripDoubleQuotes(std::u16string_view item);

} // namespace tonemirror::shell
