#pragma once

#include "platform/wmf/Runtime.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tonemirror::mediacodec {

// Runtime attribute that holds a tag; null for an unknown id.
const char16_t* attributeForTag(std::int32_t tag);

// The text of a file-level string attribute (up to its first NUL). Nothing when the attribute is
// absent, empty or not a string. Attributes longer than the first buffer are read in full.
std::optional<std::u16string> readStringAttribute(wmf::IHeaderInfo& header, const char16_t* name);

// How many units of `text` fit in `limit` without splitting a surrogate pair.
std::size_t wholeCharacters(const std::u16string& text, std::size_t limit);

// True for the tagger results of PluginApi.h that name why a value was refused.
bool tagProblemNamed(HResult result);

// A file-level number attribute of the given type and exact byte size.
std::optional<std::uint64_t> readNumberAttribute(wmf::IHeaderInfo& header, const char16_t* name,
                                                 wmf::AttrType type, std::uint16_t size);

} // namespace tonemirror::mediacodec
