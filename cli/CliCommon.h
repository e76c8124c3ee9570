#pragma once

#include "engine/CacheFile.h"
#include "engine/TrackStore.h"
#include "plugin-api/PluginApi.h"

#include <filesystem>

#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::cli {

// Exit statuses of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

using Args = std::vector<std::string>;

// Whether everything written to standard output reached it (flushes it).
bool outputWritten();

// Ends the process at once, without destructors (worker threads may be blocked in a read): flushes
// the standard streams first; the status becomes 1 when the output did not arrive.
[[noreturn]] void exitNow(int status);

// Error line on stderr, prefixed with the program name.
void printError(std::string_view message);

// UTF-8 text of a NUL-terminated field of at most `capacity` UTF-16 units.
std::string fieldText(const char16_t* field, std::size_t capacity);

// True when both names reach one existing file (device and inode).
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Why a cache file could not be used, in plain words.
std::string cacheProblem(const std::filesystem::path& file, engine::CacheFile::OpenResult result);

// Says on stderr which cache `command` uses, after each place passed over and why.
void sayCacheChoice(std::string_view command, const std::vector<engine::TrackStore::CacheAttempt>& passedOver,
                    const std::filesystem::path& used);

// "S_OK", "E_FAIL", ... or the hexadecimal value, for JSON fields callers may match on; messages
// use plain words instead.
std::string resultName(HResult result);

// Why none of `decoders` codec plug-ins opened the file, in plain words: it is missing, a folder,
// not a regular file, unreadable, or no plug-in reads its format.
std::string undecodableFileText(const std::filesystem::path& file, std::size_t decoders);

} // namespace tonemirror::cli
