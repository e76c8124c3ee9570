#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tonemirror::engine {

class IgnoreSet;

// "ignores.list": UTF-16LE text with a byte-order mark, one pair per line written as
// "first","second" followed by CR LF, in set order.
namespace ignore_list {

// Adds every complete quoted pair of the text to `set`; returns how many pairs the text held.
// Anything outside the quotes (byte-order mark, separators, line breaks, other text) is skipped, so
// hand-edited files load; parsing stops at the first pair that lacks one of its four quotes, and an
// odd last byte is ignored.
std::size_t parse(std::span<const std::byte> data, IgnoreSet& set);

struct Formatted {
    std::vector<std::byte> bytes;
    // Pairs left out because a path holds a double quote (possible outside Windows): written as is,
    // such a path would shift every later pair of the file when it is read back.
    std::size_t skipped = 0;
};
Formatted format(const IgnoreSet& set);

} // namespace ignore_list
} // namespace tonemirror::engine
