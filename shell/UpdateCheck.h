#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace tonemirror::shell {

// Outcome of one update check; the desktop program's update checker hands it on as its number.
enum class UpdateResult : int {
    Error = 0,      // bad answer, or an HTTP status other than 200
    Present = 1,    // a newer version exists
    Connection = 2, // no connection, or the answer could not be read
    UpToDate = 3,
};

// The program's version as the update check compares it: major * 65536 + minor, and the build.
struct LocalVersion {
    std::uint32_t packed = 65536; // 1.0 when nothing better is known
    std::uint32_t build = 0;
};

// The version this program was built as.
LocalVersion programVersion();

// Where the check asks. Production always uses defaultUpdateServer() (port 80); tests point it at a
// server of their own.
struct UpdateServer {
    std::string host;
    std::uint16_t port = 80;
};
UpdateServer defaultUpdateServer();
// The vendor's web site, for the update dialog's link.
std::string vendorWebSite();

// Answers longer than this are cut; only the start of the text matters.
inline constexpr std::size_t kMaxUpdateAnswer = 1014;

// Classifies the body of a 200 answer ("Tonemirror:MAJOR.MINOR.BUILD:OK"): UpToDate, Present or
// Error. The text ends at its first zero byte or after kMaxUpdateAnswer bytes.
UpdateResult classifyUpdateAnswer(std::string_view body, LocalVersion local);

// Performs one check on the calling thread: HTTP/1.0 GET of "version" ("version?new" for the very
// first check).
UpdateResult runUpdateCheck(const UpdateServer& server, LocalVersion local, bool firstCheck);

using UpdateCallback = std::function<void(UpdateResult)>;

// Runs runUpdateCheck on a thread of its own and hands the result to the callback on that thread
// (the window turns it into a posted message). The thread owns copies of its arguments.
// Returns the thread, or a thread that is not joinable when none could be started; the caller
// joins or detaches it.
std::thread startUpdateCheck(UpdateCallback callback, LocalVersion local, bool firstCheck,
                             UpdateServer server = defaultUpdateServer());

// Whether the automatic check at start-up is due, and whether it is the very first one.
struct AutomaticCheck {
    bool due = false;
    bool firstCheck = false;
};

// The settings values "CheckUpdate" (absent = 1) and "LastUpdate" (seconds since 1970 UTC of the
// last successful check; absent or 0 = never) and the current time: a check is due when the option
// is 1 and the last check fell on another UTC calendar day.
AutomaticCheck automaticCheckDue(std::optional<std::uint32_t> checkUpdate,
                                 std::optional<std::uint32_t> lastUpdate, std::time_t now);

// Translation key and English default of the status text for a result.
struct UpdateResultText {
    const char16_t* key;
    const char16_t* defaultText;
};
UpdateResultText updateResultText(UpdateResult result);

} // namespace tonemirror::shell
