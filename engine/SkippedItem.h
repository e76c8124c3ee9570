#pragma once

#include <cstdint>
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
};

struct SkippedItem {
    std::u16string path;
    SkipReason reason = SkipReason::UnreadableFolder;
    std::u16string detail; // the first name for SameFile and SameFolder, the system's words for errors
};

// The reason in plain English (front ends with translations key on the reason instead).
const char* skipReasonText(SkipReason reason);

} // namespace tonemirror::engine
