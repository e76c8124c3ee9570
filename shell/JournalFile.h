#pragma once

#include "shell/FileTrash.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

enum class ActionKind { Trash, Move, Link };

// What a file looked like when it was scanned; an action runs only while it still does.
struct ExpectedFile {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::uint32_t modifiedNanoseconds = 0;

    bool operator==(const ExpectedFile&) const = default;
};

// One planned action on a marked file (native byte paths).
struct FileAction {
    ActionKind kind = ActionKind::Trash;
    std::string path;
    std::string target; // Move: the new path; Link: the kept file the link leads to
    std::string kept;   // the copy its group keeps, which must stay while this one goes; empty for
                        // a Delete the user chose file by file, where no copy has to stay
    ExpectedFile expected;
    ExpectedFile keptExpected;
};

// How far one action of a batch came, as the journal recorded it.
struct ActionRecord {
    enum class State { Planned, Begun, Done, Refused, Failed, Undone, UndoRefused };
    State state = State::Planned;
    std::string why;       // Refused, Failed, UndoRefused
    TrashedFile trashed;   // Trash, Link: where the original went (empty when it is not known)
    bool symbolic = false; // Link: a symbolic link was made (another file system)
};

// A batch as read back: the plan, then one record per action.
struct JournalBatch {
    std::uint64_t number = 0;
    std::vector<std::string> referenceFolders;
    std::vector<FileAction> actions;
    std::vector<ActionRecord> records;
    bool ended = false; // every action was tried
    bool undoBegun = false;
    bool undoEnded = false;
};

// The journal of one batch: a text file of JSON lines, the plan first, then one line per event,
// each written and flushed to the disk before the next step. A line cut short by a kill is ignored.
namespace journal_file {

// Larger files are not read: a batch of a million actions stays well below.
inline constexpr std::size_t kMaxFileBytes = 512u * 1024u * 1024u;

// The plan line, and one event line ("begin", "done", ...) for action `index`.
std::string planLine(const JournalBatch& batch);
std::string eventLine(std::string_view event, std::size_t index, const ActionRecord* record = nullptr);
std::string markLine(std::string_view mark); // "end", "undoBegin", "undoEnd"

// Reads a whole journal; nullopt when its plan line is missing or unreadable.
std::optional<JournalBatch> parse(std::string_view text);

// Native names are bytes; JSON text must be UTF-8: bytes that are no printable ASCII, and "%",
// are written as %XX.
std::string encodeName(std::string_view bytes);
std::optional<std::string> decodeName(std::string_view text);

} // namespace journal_file

} // namespace tonemirror::shell
