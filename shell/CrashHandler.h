#pragma once

#include "plugin-api/PluginApi.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace tonemirror::shell {

// Folders a crash report may go to, in the order they are tried.
struct CrashReportFolders {
    std::filesystem::path program;  // first choice: the program's own folder
    std::filesystem::path userData; // second choice, created when missing
};

// Installs the handler for the fatal signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT), running on an
// alternate stack of the calling thread so that a stack overflow of the user-interface thread is
// reported too. The handler writes a text report "crash_YYMMDDhhmmss.dmp" (UTC) holding the signal,
// the faulting address, the thread, a backtrace and the memory map, then restores the default action
// and raises the signal again, so the process ends as it would have without the handler.
// Call first thing at start-up. S_OK, or E_FAIL when the handler could not be installed.
HResult installCrashHandler();
// The same with explicit folders (an empty path is not tried).
HResult installCrashHandler(const CrashReportFolders& folders);

// "crash_%02d%02d%02d%02d%02d%02d.dmp" of the UTC time: year % 100, month, day, hour, minute, second.
// Async-signal-safe; out receives the name and a terminating zero.
inline constexpr std::size_t kCrashReportNameSize = 24;
void formatCrashReportName(std::int64_t secondsSince1970, char (&out)[kCrashReportNameSize]);

} // namespace tonemirror::shell
