#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tonemirror::engine {

class IgnoreSet;

// "ignores.list": UTF-16LE text with a byte-order mark, one pair per line written as
// "first","second" followed by CR LF, in set order.
namespace ignore_list {

// Adds every complete quoted pair of the text to `set`; returns how many pairs the text held.
// Anything outside the quotes (byte-order mark, separators, line breaks, other text) is skipped, so
// hand-edited files load; parsing stops at the first pair that lacks one of its four quotes, and an
// odd last byte is ignored. The text is UTF-16LE (the program's own), UTF-16BE after its byte-order
// mark, or UTF-8 (a hand-made list: no byte-order mark and no NUL byte, which no path holds).
std::size_t parse(std::span<const std::byte> data, IgnoreSet& set);

struct Parsed {
    std::size_t pairs = 0;
    // False when the text holds anything the program would not write back: other text than
    // separators and line breaks, a pair broken off, an odd last byte. Replacing such a file would
    // lose what it holds beyond its pairs.
    bool clean = true;
};
Parsed read(std::span<const std::byte> data, IgnoreSet& set);

// The same from an open file read in pieces of a mebibyte: memory follows the pairs kept, not the
// file's size. The encoding is decided from the first piece; a pair longer than any two paths ends
// the list there (not clean). nullopt when a read fails.
std::optional<Parsed> readFile(int fd, IgnoreSet& set);

// False for a path the list cannot hold: one with a double quote (possible outside Windows), which
// would shift every later pair of the file when it is read back.
bool storable(std::u16string_view path);

struct Formatted {
    std::vector<std::byte> bytes;
    // Pairs left out because a path holds a double quote (possible outside Windows): written as is,
    // such a path would shift every later pair of the file when it is read back.
    std::size_t skipped = 0;
};
Formatted format(const IgnoreSet& set);

} // namespace ignore_list
} // namespace tonemirror::engine
