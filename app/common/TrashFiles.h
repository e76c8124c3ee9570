#pragma once

#include <QString>

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class QWidget;

namespace tonemirror::app {

struct AppContext;

// Files to move to the trash after one question.
struct TrashRequest {
    std::vector<std::u16string> files;
    QString singleName;     // how the question names a lone file
    bool listFiles = false; // the question shows every file below its text
    QString note;           // said after the question (what stays, what to look at first)
    // Each file must still be as the scan analysed it (the results list); otherwise as it is when
    // the user says yes.
    bool asScanned = false;
    std::vector<std::u16string> referenceFolders; // files in them stay, with the reason
    // Runs after the user said yes, before the first file moves (edits waiting for them land first).
    std::function<void()> beforeMoving;
    // Gets the files that went, before the user hears of those that stayed.
    std::function<void(const std::unordered_set<std::u16string>& trashed)> afterMoving;
};

// Asks once, writes the batch to the action journal (so Edit -> Undo can put the files back), moves
// each file to the trash and tells the user, in one message, which files stayed where they were and
// why. False when the user said no.
bool confirmAndTrash(AppContext& context, QWidget* parent, const TrashRequest& request);

} // namespace tonemirror::app
