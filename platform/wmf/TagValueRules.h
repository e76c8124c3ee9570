#pragma once

#include "platform/wmf/FileKind.h"
#include "plugin-api/PluginApi.h"

#include <string>
#include <string_view>

namespace tonemirror::wmf {

// Longest text an attribute holds: its byte length is 16 bits wide.
inline constexpr std::size_t kMaxTextUnits = 32767;

// Whether `text` can be stored as the text attribute `name` in a file of `kind` and read back as it
// is: S_OK, or the tagger result that says why not. An empty text always passes (it removes the tag).
// A track is "7" or "7/12" (numbers up to 32767: some formats keep them in 16 signed bits); a year is
// "2021", "2021-05" or "2021-05-30". No text may hold a NUL or half of a surrogate pair.
HResult checkTagValue(FileKind kind, std::u16string_view name, std::u16string_view text);

} // namespace tonemirror::wmf
