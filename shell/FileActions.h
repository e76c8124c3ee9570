#pragma once

#include "shell/FileTrash.h"
#include "shell/JournalFile.h"

#include <optional>
#include <string>
#include <vector>

namespace tonemirror::shell {

// The single steps of a clean-up, each safe on its own: a file is only touched while it is the
// file that was scanned, and nothing is ever deleted (originals go to the trash).

// How the name looks now (a link is not followed); nullopt when nothing is there.
std::optional<ExpectedFile> currentFile(const std::string& path);

// Why the action must not run now, in plain words; empty when it may. `batchPaths` are the files
// the batch acts on: the copy a group keeps must not be one of them.
std::string refusalOf(const FileAction& action, const std::vector<std::string>& referenceFolders,
                      const std::vector<std::string>& batchPaths);

// Runs one action: Done with where the original went, or Failed with why (the file is then where
// it was).
ActionRecord performAction(const FileAction& action, FileTrash& trash);

// Puts back one action that was done: Undone, or UndoRefused with why (nothing is replaced).
ActionRecord undoAction(const FileAction& action, const ActionRecord& done, FileTrash& trash);

// The new path of `path` moved into `folder`, keeping its path below the scanned folder that holds
// it (the deepest of `scanned`); below the root when none does.
std::string moveTarget(const std::string& path, const std::vector<std::string>& scanned,
                       const std::string& folder);

// The name a link is made under before it takes the original's place.
std::string linkTempName(const std::string& path);

} // namespace tonemirror::shell
