#pragma once

#include "engine/ScanSettings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The names of the program's settings. Numbers unless marked as texts; the lists are texts in the
// quoted-list form (QuotedList.h). Their defaults and reading rules are in Preferences.h.
namespace tonemirror::shell::settings {

// Comparison (read at window creation, written by the Options dialog).
inline constexpr std::string_view kCompareMethod = "CompareMethod"; // 1 tags, 2 content, 3 both
inline constexpr std::string_view kAccurate = "Accurate";           // non-zero: experimental comparison on
inline constexpr std::string_view kSensitivityContent = "SensitivityContent"; // threshold x 100
inline constexpr std::string_view kSensitivityTags = "SensitivityTags";
// Matches verified by their acoustic prints (non-zero: on), against this threshold x 100.
inline constexpr std::string_view kVerifyMatches = "VerifyMatches";
inline constexpr std::string_view kSensitivityAcoustic = "SensitivityAcoustic";

// Update check.
inline constexpr std::string_view kCheckUpdate = "CheckUpdate"; // on exactly when 1
inline constexpr std::string_view kLastUpdate = "LastUpdate";   // seconds since 1970 (UTC)

// Window (written at close). The bars are shown unless the value is 0.
inline constexpr std::string_view kShowToolbar = "ShowToolbar";
inline constexpr std::string_view kShowStatusBar = "ShowStatusBar";
// The normal window rectangle (signed values in their 32 bits) and the maximised flag.
inline constexpr std::string_view kWindowLeft = "WindowLeft";
inline constexpr std::string_view kWindowTop = "WindowTop";
inline constexpr std::string_view kWindowRight = "WindowRight";
inline constexpr std::string_view kWindowBottom = "WindowBottom";
inline constexpr std::string_view kWindowMaximized = "WindowMaximized";

// Text: the interface language's name; missing means English.
inline constexpr std::string_view kLanguage = "Language";

// Text: the folder of the last playlist or export saved; save dialogs start there.
inline constexpr std::string_view kLastSaveFolder = "LastSaveFolder";
// Results list (written at close): the header's column widths as Qt saves them, in hexadecimal
// text; the column last sorted by (missing: none) and its direction flag (1 set); the details pane's
// height in pixels.
inline constexpr std::string_view kResultsHeader = "ResultsHeader";
inline constexpr std::string_view kResultsSortColumn = "ResultsSortColumn";
inline constexpr std::string_view kResultsSortFlag = "ResultsSortFlag";
inline constexpr std::string_view kResultsDetailsHeight = "ResultsDetailsHeight";

// Quoted lists, empty by default.
inline constexpr std::string_view kFolders = "Folders"; // ticked folders, full paths
inline constexpr std::string_view kHelperTitles = "HelperTitles";
inline constexpr std::string_view kHelperArtists = "HelperArtists";
inline constexpr std::string_view kHelperAlbums = "HelperAlbums";
inline constexpr std::string_view kHelperComments = "HelperComments";
inline constexpr std::string_view kHelperYears = "HelperYears";
inline constexpr std::string_view kHelperTracks = "HelperTracks";
inline constexpr std::string_view kHelperConvert1 = "HelperConvert1"; // Filename -> Tags patterns
inline constexpr std::string_view kHelperConvert2 = "HelperConvert2"; // Tags -> Filename patterns

// Text: the keeper rules' criteria in their order, names separated by commas (KeeperRules.h);
// missing or unreadable means the default order. Quoted list: the reference folders, never marked.
inline constexpr std::string_view kKeeperRules = "KeeperRules";
inline constexpr std::string_view kReferenceFolders = "ReferenceFolders";

// Lengths of the recent-values lists, newest first.
inline constexpr std::size_t kRecentTagValues = 15;
inline constexpr std::size_t kRecentPatterns = 10;

// "CompareMethod" as the engine uses it: 0 and values above 3 stand for both comparisons.
constexpr std::uint32_t compareMethodFrom(std::optional<std::uint32_t> stored) {
    return stored && *stored >= 1 && *stored <= 3
               ? *stored
               : static_cast<std::uint32_t>(engine::ScanPreferences{}.compareMethod);
}

} // namespace tonemirror::shell::settings
