#include "shell/ActionTexts.h"

#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "shell/CTranslator.h"

#include <array>

namespace tonemirror::shell {

namespace {

// What stands for "%1" in a reason: a text of its own to translate, or words to keep (a path).
enum class Part { None, Reason, Name };

struct ReasonText {
    const char16_t* key;
    std::string_view english; // as the actions write it; "%1" at most once
    Part part;
};

constexpr std::array<ReasonText, 27> kReasons = {{
    {u"ACTION_WHY_IN_REFERENCE", "it is in a reference folder", Part::None},
    {u"ACTION_WHY_GONE", "it is no longer there", Part::None},
    {u"ACTION_WHY_CHANGED", "it has changed since it was scanned", Part::None},
    {u"ACTION_WHY_KEPT_IN_BATCH", "the copy kept in its group would go too", Part::None},
    {u"ACTION_WHY_KEPT_GONE",
     "the copy kept in its group is gone or has changed, so this may be the last one", Part::None},
    {u"ACTION_WHY_NO_DEST_FOLDER", "the destination folder cannot be made", Part::None},
    {u"ACTION_WHY_DEST_TAKEN", "a file of that name is already in the destination folder", Part::None},
    {u"ACTION_WHY_OTHER_DISK", "the destination is on another file system; only moves within one are made",
     Part::None},
    {u"ACTION_WHY_CANNOT_MOVE", "the file cannot be moved", Part::None},
    {u"ACTION_WHY_NO_LINK", "the link cannot be made", Part::None},
    {u"ACTION_WHY_ORIGINAL_NOT_TRASHED", "the original cannot be moved to the trash: %1", Part::Reason},
    {u"ACTION_WHY_LINK_NOT_PLACED", "the link cannot take the file's place", Part::None},
    {u"ACTION_WHY_NOT_OUR_LINK", "its place holds another file than the link that replaced it", Part::None},
    {u"ACTION_WHY_LINK_NOT_ASIDE", "the link cannot be moved aside", Part::None},
    {u"ACTION_WHY_ORIGINAL_NOT_BACK", "the original cannot be taken from the trash: %1", Part::Reason},
    {u"ACTION_WHY_MOVED_GONE", "the moved file is no longer where it was moved to", Part::None},
    {u"ACTION_WHY_PLACE_TAKEN", "its original place is taken by another file", Part::None},
    {u"ACTION_WHY_CANNOT_MOVE_BACK", "it cannot be moved back", Part::None},
    {u"ACTION_WHY_TRASH_UNKNOWN",
     "where it went in the trash is not known; restore it from the trash by hand", Part::None},
    {u"ACTION_WHY_NOT_BACK", "it cannot be taken from the trash: %1", Part::Reason},
    {u"ACTION_WHY_CHANGED_STOPPED", "it changed while the program was stopped", Part::None},
    {u"ACTION_WHY_NO_JOURNAL", "the journal could not be written", Part::None},
    {u"ACTION_WHY_LOCKED",
     "another running copy of the program is changing files; try again when it has finished", Part::None},
    {u"ACTION_WHY_JOURNAL_FOLDER", "the journal folder '%1' cannot be written, so no file was touched",
     Part::Name},
    {u"ACTION_WHY_JOURNAL_FILE", "the journal '%1' cannot be written, so no file was touched", Part::Name},
    {u"ACTION_WHY_NOTHING_TO_UNDO", "there is no clean-up to undo", Part::None},
    {u"ACTION_WHY_UNKNOWN", "unknown action", Part::None},
}};

struct ProblemKey {
    os::TrashProblem problem;
    const char16_t* key;
};

constexpr std::array<ProblemKey, 18> kProblemKeys = {{
    {os::TrashProblem::NotFound, u"TRASH_WHY_NOT_FOUND"},
    {os::TrashProblem::NotAnItem, u"TRASH_WHY_NOT_AN_ITEM"},
    {os::TrashProblem::AlreadyInTrash, u"TRASH_WHY_IN_TRASH"},
    {os::TrashProblem::HoldsTrash, u"TRASH_WHY_HOLDS_TRASH"},
    {os::TrashProblem::NoTrash, u"TRASH_WHY_NO_TRASH"},
    {os::TrashProblem::UnsafeTrash, u"TRASH_WHY_UNSAFE"},
    {os::TrashProblem::TrashNotWritable, u"TRASH_WHY_NOT_WRITABLE"},
    {os::TrashProblem::TrashFull, u"TRASH_WHY_FULL"},
    {os::TrashProblem::TooManyNames, u"TRASH_WHY_TOO_MANY_NAMES"},
    {os::TrashProblem::NoPermission, u"TRASH_WHY_NO_PERMISSION"},
    {os::TrashProblem::ReadOnly, u"TRASH_WHY_READ_ONLY"},
    {os::TrashProblem::Busy, u"TRASH_WHY_BUSY"},
    {os::TrashProblem::MoveFailed, u"TRASH_WHY_MOVE_FAILED"},
    {os::TrashProblem::NotInTrash, u"TRASH_WHY_NOT_IN_TRASH"},
    {os::TrashProblem::NotATrashEntry, u"TRASH_WHY_NOT_AN_ENTRY"},
    {os::TrashProblem::RecordMismatch, u"TRASH_WHY_RECORD_MISMATCH"},
    {os::TrashProblem::PlaceTaken, u"TRASH_WHY_PLACE_TAKEN"},
    {os::TrashProblem::FolderGone, u"TRASH_WHY_FOLDER_GONE"},
}};

std::u16string translated(const CTranslator& translator, const char16_t* key, std::string_view english) {
    return std::u16string(translator.translate(key, os::utf8ToUtf16(english)));
}

// `why` is `english`, or `english` followed by the system's words in brackets: translated, with
// those words kept.
bool matchWhole(const CTranslator& translator, const char16_t* key, std::string_view english,
                std::string_view why, std::u16string& out) {
    if (!why.starts_with(english)) {
        return false;
    }
    const std::string_view rest = why.substr(english.size());
    if (!rest.empty() && !(rest.starts_with(" (") && rest.ends_with(")"))) {
        return false;
    }
    out = translated(translator, key, english) + os::fromNativeName(rest);
    return true;
}

bool matchWithPart(const CTranslator& translator, const ReasonText& reason, std::string_view why,
                   std::u16string& out) {
    const std::size_t at = reason.english.find("%1");
    const std::string_view before = reason.english.substr(0, at);
    const std::string_view after = reason.english.substr(at + 2);
    if (why.size() < before.size() + after.size() || !why.starts_with(before) || !why.ends_with(after)) {
        return false;
    }
    const std::string_view part = why.substr(before.size(), why.size() - before.size() - after.size());
    const std::u16string shown =
        reason.part == Part::Reason ? translateActionText(translator, part) : os::fromNativeName(part);
    out = translated(translator, reason.key, reason.english);
    if (const std::size_t place = out.find(u"%1"); place != std::u16string::npos) {
        out.replace(place, 2, shown);
    } else {
        out += u": " + shown; // a translation that lost its place holder still says it
    }
    return true;
}

} // namespace

std::u16string translateActionText(const CTranslator& translator, std::string_view why) {
    std::u16string out;
    for (const ReasonText& reason : kReasons) {
        const bool found = reason.part == Part::None
                               ? matchWhole(translator, reason.key, reason.english, why, out)
                               : matchWithPart(translator, reason, why, out);
        if (found) {
            return out;
        }
    }
    for (const ProblemKey& problem : kProblemKeys) {
        if (matchWhole(translator, problem.key, os::describeTrashProblem(problem.problem), why, out)) {
            return out;
        }
    }
    return os::fromNativeName(why);
}

const char16_t* trashProblemKey(os::TrashProblem problem) {
    for (const ProblemKey& entry : kProblemKeys) {
        if (entry.problem == problem) {
            return entry.key;
        }
    }
    return nullptr;
}

} // namespace tonemirror::shell
