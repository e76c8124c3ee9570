#pragma once

#include "plugin-api/PluginApi.h"

#include <string>
#include <string_view>

namespace tonemirror::analysis {

// The four texts a track is matched by, each trimmed of blanks and tabs and lower-cased.
struct TrackTexts {
    std::u16string nameText;
    std::u16string titleText;
    std::u16string artistText;
    std::u16string albumText;
};

// Builds the texts of a newly analysed file from its path and what its decoder reported. nameText is
// the file name without folder and extension: after the last separator, up to the last dot when that
// dot lies in the name (so a name starting with its only dot gives an empty text). The tag texts come
// from info, each read up to its first NUL. When the decoder has no StreamInfo (info null) all four
// texts stay empty, the file name included: such a file is matched by content only.
TrackTexts makeTrackTexts(std::u16string_view path, const StreamInfo* info);

} // namespace tonemirror::analysis
