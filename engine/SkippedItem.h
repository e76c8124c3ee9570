#pragma once

#include "analysis/AnalysisFailure.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tonemirror::engine {

// Why a scan left something under a ticked folder out.
enum class SkipReason : std::int32_t {
    UnreadableFolder, // the folder could not be listed (permission, I/O error)
    PathTooLong,      // the full path is longer than the system accepts
    SpecialFile,      // a pipe, socket or device, never read
    KernelFiles,      // a kernel file system such as /proc or /sys: nothing there is music
    LinkToFolder,     // folders reached through a link are not entered (no loops)
    BrokenLink,       // a link whose target does not exist
    SameFile,         // another name of a file the scan reached first (detail: that name)
    SameFolder,       // another name of a folder the scan reached first (detail: that name)
    TrashFolder,      // a desktop trash, or a folder in one (detail: the trash folder)
    NotAudio,         // no decoder opens the file: not audio, or a format no plug-in reads
    TooShort,         // less audio than a fingerprint needs
    Silent,           // the opening is all silence: nothing to compare
    Undecodable,      // a decoder opened it but delivered no usable samples
};

struct SkippedItem {
    std::u16string path;
    SkipReason reason = SkipReason::UnreadableFolder;
    std::u16string detail; // the first name for SameFile and SameFolder, the system's words for errors
};

// Why a file the scan reached was not analysed; nothing when the failure is no reason to list it
// (a stop).
std::optional<SkipReason> skipReasonOf(analysis::AnalysisFailure failure);

// The reason in plain English (front ends with translations key on the reason instead).
const char* skipReasonText(SkipReason reason);

} // namespace tonemirror::engine
