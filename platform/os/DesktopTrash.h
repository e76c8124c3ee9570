#pragma once

#include "platform/os/TrashFolders.h"

#include <string>

namespace tonemirror::os {

class TrashDirectory;

// One trashed item, enough to put it back. Native byte paths, every byte kept.
struct TrashEntry {
    std::string originalPath; // where the item was (its folder resolved, the name as it was)
    std::string trashedPath;  // TRASH/files/NAME
    std::string infoPath;     // TRASH/info/NAME.trashinfo
};

// Why an item was not trashed or not restored.
enum class TrashProblem {
    None,
    NotFound,         // the item no longer exists
    NotAnItem,        // an empty path, "/", "." or ".."
    AlreadyInTrash,   // it lies in a trash folder already
    HoldsTrash,       // a folder holding the trash it would go to
    NoTrash,          // its volume has no trash we may create or use
    UnsafeTrash,      // the volume's trash is a link, not the user's, or open to others
    TrashNotWritable, // the trash's info folder refuses a new record (read-only, no permission)
    TrashFull,        // no space or no free inode for the record
    TooManyNames,     // every name tried is taken in the trash
    NoPermission,     // the item's folder does not let us move it
    ReadOnly,         // the item's file system is read-only
    Busy,             // a mount point or an item in use by the system
    MoveFailed,       // another refusal of the system (see the detail)
    NotInTrash,       // restore: the trashed item is gone
    NotATrashEntry,   // restore: the entry names no item of a trash folder
    RecordMismatch,   // restore: the trash's record says the item came from elsewhere
    PlaceTaken,       // restore: something is at the original place already
    FolderGone,       // restore: the original folder no longer exists
};

// The cause in plain English, lower case, to follow "could not be moved to the trash: ". Empty for None.
const char* describeTrashProblem(TrashProblem problem);

struct TrashOutcome {
    bool ok = false;
    TrashEntry entry;
    TrashProblem problem = TrashProblem::None;
    std::string detail; // the system's words, or the trash folder concerned
};

// The desktop trash: the home trash for items on the home trash's volume, else the volume's own
// ".Trash/<uid>" or ".Trash-<uid>", each only after checking it is the user's and not a planted link.
// An item is renamed into the trash, never copied; a record is written first and removed again when
// the move fails, so a failure leaves the item where it was and nothing behind.
class DesktopTrash {
public:
    // Tries this many names for an item before giving up (name clashes in the trash).
    static constexpr int kMaxAttempts = 200;

    explicit DesktopTrash(TrashEnvironment environment);
    static DesktopTrash fromProcess() { return DesktopTrash(TrashEnvironment::fromProcess()); }

    TrashOutcome moveToTrash(const std::string& nativePath);
    // Puts a trashed item back where it came from and removes its record. Never replaces a file.
    TrashOutcome restore(const TrashEntry& entry);
    bool isTrashFolder(const std::string& nativePath) const;

private:
    TrashOutcome moveInto(const TrashDirectory& trash, int folderFd, const std::string& name,
                          const std::string& original, bool isFolder);
    std::string recordedOriginal(const TrashEntry& entry, TrashProblem& problem) const;

    TrashEnvironment environment_;
    TrashFolders folders_;
};

} // namespace tonemirror::os
