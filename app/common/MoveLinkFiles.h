#pragma once

#include "shell/JournalFile.h"

#include <QString>

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class QWidget;

namespace tonemirror::app {

struct AppContext;

// Marked files to move to a folder, or to replace with links to the copies that stay, after one
// question.
struct MoveLinkRequest {
    struct File {
        std::u16string path;
        std::u16string kept; // the copy of its group that must stay (and the link's target)
    };
    shell::ActionKind kind = shell::ActionKind::Move; // Move or Link
    std::vector<File> files;
    std::u16string folder;                        // Move: where the files go
    std::vector<std::u16string> scannedFolders;   // Move: the path below them is kept
    std::vector<std::u16string> referenceFolders; // files in them stay, with the reason
    QString note;                                 // said after the question
    // Gets the files that were moved or replaced, before the user hears of those that stayed.
    std::function<void(const std::unordered_set<std::u16string>& done)> afterActing;
};

// Asks once, writes the batch to the action journal (so Edit -> Undo can reverse it), runs it and
// tells the user, in one message, which files stayed as they were and why. False when the user
// said no.
bool confirmAndMoveOrLink(AppContext& context, QWidget* parent, const MoveLinkRequest& request);

} // namespace tonemirror::app
