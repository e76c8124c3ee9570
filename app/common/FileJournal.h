#pragma once

#include "shell/JournalFile.h"

#include <QString>

#include <string>

class QWidget;

namespace tonemirror::app {

struct AppContext;

// The desktop's side of the action journal: the same journal and trash as the command line's, so
// either can undo what the other did.

// How the file looks now; with `asScanned`, its size and time as the scan analysed them, so that a
// file changed since it was listed is refused.
shell::ExpectedFile expectedFile(const AppContext& context, const std::u16string& path, bool asScanned);

// Why an action did not end as asked, in the user's language.
QString actionReason(const AppContext& context, const std::string& why);

// Whether Edit -> Undo has a batch to reverse.
bool canUndoFiles();

// Reverses the last batch and tells the user, per file, what could not be put back and why. false
// when there was nothing to undo (the user is told) or the journal could not be used.
bool undoLastFiles(AppContext& context, QWidget* parent);

// Completes, or finishes undoing, every batch a kill cut short, and says so when there was one.
void recoverFiles(AppContext& context, QWidget* parent);

} // namespace tonemirror::app
