#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tonemirror::os {

// The record the desktop trash keeps for every trashed item: "TRASH/info/NAME.trashinfo", a small
// key file naming where the item came from and when it went.
struct TrashInfo {
    std::string path;         // bytes of the original path (absolute, or relative to the volume top)
    std::string deletionDate; // "YYYY-MM-DDThh:mm:ss", local time
};

// No record we write comes near this; a longer file is not one of ours and is not read further.
inline constexpr std::size_t kMaxTrashInfoBytes = 64 * 1024;

// Path bytes as the record holds them: every byte but letters, digits, "/" and "-_.!~*'()" becomes
// "%XX", so "%41" in a name stays "%41" and odd bytes survive any text tool.
std::string percentEncodePath(std::string_view bytes);
// The way back; nullopt for a "%" without two hex digits after it, or an encoded NUL.
std::optional<std::string> percentDecodePath(std::string_view text);

std::string formatTrashInfo(const TrashInfo& info);
// Reads a record: the "[Trash Info]" group with exactly one Path (decoded here) and at most one
// DeletionDate (left empty when it holds control characters). nullopt for anything else, including input longer than kMaxTrashInfoBytes.
std::optional<TrashInfo> parseTrashInfo(std::string_view text);

} // namespace tonemirror::os
