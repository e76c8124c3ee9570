#pragma once

#include "plugin-api/PluginApi.h"

namespace tonemirror::audio {

// Why a tag read or write did not happen, in words a user can be shown.
enum class TagProblem {
    None,
    NotOpen,
    NoTagger,
    NotFound,
    ReadOnly,
    DiskError,
    DiskFull,
    NameTooLong,
    FileTooLarge,
    Changed,
    ContentMismatch,
    UnsupportedContent,
    Damaged,
    VerifyFailed,
    OtherOwner,
    HardLinked,
    AttributesLost,
    Interrupted,
    NotANumber,
    NotADate,
    TextTooLong,
    InvalidText,
    ValueRefused,
    WriteFailed,
};

// The problem a tagger's failure names; `unnamed` for a failure that names none.
TagProblem tagProblemFor(HResult result, TagProblem unnamed);

// The cause in plain English, lower case, to follow "could not write the tags: " and the like
// ("there is no space left on the disk"). Empty for None.
const char* describeTagProblem(TagProblem problem);

} // namespace tonemirror::audio
