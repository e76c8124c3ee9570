#pragma once

// Command numbers of the menus, the tool bar and the pages' context menus: the frame's commands, the
// Folders page's and the Results page's, kept apart by number.
namespace tonemirror::app::cmd {

inline constexpr int kStart = 32802;
inline constexpr int kPause = 32803;
inline constexpr int kStop = 32804;
inline constexpr int kSavePlaylist = 32805;
inline constexpr int kOptions = 32806;
inline constexpr int kCheckUpdates = 32807;
inline constexpr int kFirstLanguage = 32808;
inline constexpr int kLastLanguage = 32908;
inline constexpr int kExportResults = 32909;  // Files menu, beside Save playlist
inline constexpr int kSkippedItems = 32910;   // Scanning menu: what the last scan left out
inline constexpr int kRefresh = 32911;        // View menu (F5): the Folders page lists its folders again
inline constexpr int kViewPairs = 32912;      // View menu: the Results page lists pairs (the default)
inline constexpr int kViewGroups = 32913;     // or groups of copies
inline constexpr int kMarkAllButBest = 32914; // Tools menu: marks the copies of each group's best file
inline constexpr int kKeeperRules = 32915;    // Tools menu: the order that picks the copy to keep
inline constexpr int kUndo = 32916;           // Edit menu (Ctrl+Z): puts back the last batch of file actions
inline constexpr int kAbout = 57664;
inline constexpr int kExit = 57665;
inline constexpr int kToolbar = 59392;
inline constexpr int kStatusBar = 59393;

// View menus of the Folders page's file list (FileViewMode).
inline constexpr int kViewMediumIcons = 111;
inline constexpr int kViewSmallIcons = 112;
inline constexpr int kViewList = 113;
inline constexpr int kViewDetails = 114;

// File list context menu of the Folders page.
inline constexpr int kFilenameToTags = 115;
inline constexpr int kTagsToFilename = 116;
inline constexpr int kFolderDelete = 117;

// Results list context menu: the first number acts on File #1, the second on File #2.
inline constexpr int kDelete1 = 101;
inline constexpr int kDelete2 = 102;
inline constexpr int kDeleteMarked1 = 103;
inline constexpr int kDeleteMarked2 = 104;
inline constexpr int kPlay1 = 105;
inline constexpr int kPlay2 = 106;
inline constexpr int kBrowse1 = 107;
inline constexpr int kBrowse2 = 108;
inline constexpr int kIgnore1 = 109;
inline constexpr int kIgnore2 = 110;
inline constexpr int kIgnoreMarked1 = 130;
inline constexpr int kIgnoreMarked2 = 131;

constexpr bool isFolderViewCommand(int id) {
    return id >= kViewMediumIcons && id <= kViewDetails;
}

} // namespace tonemirror::app::cmd
