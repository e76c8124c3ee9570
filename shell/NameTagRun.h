#pragma once

#include "audio/TagProblem.h"

#include <cstdint>
#include <string>
#include <system_error>

namespace tonemirror::audio {
class TagAccess;
}

namespace tonemirror::shell {

// Converting one file between its name and its tags by a pattern (NameTagConversion.h), through the
// plug-ins' taggers and a rename that never replaces an existing file.
enum class NameTagDirection { FilenameToTags, TagsToFilename };

// Why a file was not converted; the file is then as it was.
enum class NameTagFailure {
    None,
    EmptyPattern,   // or an empty path
    CannotOpen,     // no tagger opens the file (tagProblem may say why)
    NoTagInPattern, // Tags -> Filename: the pattern names no tag
    NoTagValue,     // Tags -> Filename: the file has none of the pattern's tags (it keeps its name)
    TargetExists,   // Tags -> Filename: a file of the new name is already there
    RenameFailed,   // Tags -> Filename: the rename failed with `error`
    NotSaved,       // Filename -> Tags: the tags could not be saved (tagProblem may say why)
    NameGaveNoTag,  // Filename -> Tags: the name yields no tag for the pattern
};

struct NameTagOutcome {
    NameTagFailure failure = NameTagFailure::None;
    audio::TagProblem tagProblem = audio::TagProblem::None; // the tagger's account, when it gave one
    std::u16string target;                                  // the new name (TargetExists, RenameFailed)
    std::error_code error;                                  // RenameFailed
    bool converted() const { return failure == NameTagFailure::None; }
};

// Converts the file at `path`. A file already named as its tags say counts as converted.
NameTagOutcome convertNameAndTags(audio::TagAccess& tags, NameTagDirection direction,
                                  const std::u16string& path, const std::u16string& pattern);

// The tag's text from the open file, or empty when it cannot be read.
std::u16string readTag(audio::TagAccess& tags, std::int32_t tag);

} // namespace tonemirror::shell
