#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// Conversions between file names and tags by a pattern such as "<track>. <artist> - <title>".
//
// A token is "<", one of the names title, artist, album, year, track, comment, genre (any case) and
// the first ">" after it; it stands for the tag of that TagId (1 to 7 in this order: title 1, artist 2,
// album 3, year 4, track 5, comment 6, genre 7). Anything else, a "<" without a later ">" included,
// is plain text.

struct PatternPart {
    std::u16string text;  // the plain text; empty for a token
    std::int32_t tag = 0; // the token's TagId; 0 for plain text
};
std::vector<PatternPart> parsePattern(std::u16string_view pattern);

// True when the pattern holds at least one token such as <title>.
bool patternHasToken(std::u16string_view pattern);

// The tag a token name stands for; 0 for other names.
std::int32_t tagOfTokenName(std::u16string_view name);

// The new full path of the file at `path` from its tags: the folder and the extension (from the last
// "." of the name) stay, the name is the pattern with each token replaced by readTag(tag). Characters
// below 32 and < > : " / \ | ? * are dropped from plain text and tag values alike. nullopt when the
// path or the pattern is empty, the pattern holds no token, or none of its tags has a value (the
// file keeps its name).
using TagReader = std::function<std::u16string(std::int32_t tag)>;
std::optional<std::u16string> nameFromTags(std::u16string_view path, std::u16string_view pattern,
                                           const TagReader& readTag);

// The tag values the file's name (without folder and extension) gives for the pattern, in the order
// to write them. The plain text between tokens is searched for left to right; two tokens with nothing
// between them split at the first blank or tab. Values are taken as found, not trimmed; a token whose
// separator is not found gets no value, and the last token takes the rest of the name.
struct TagValue {
    std::int32_t tag = 0;
    std::u16string text;
};
std::vector<TagValue> tagsFromName(std::u16string_view path, std::u16string_view pattern);

} // namespace tonemirror::shell
