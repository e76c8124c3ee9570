#pragma once

#include <string>
#include <string_view>

namespace tonemirror::os {

// Names of the temporary copies a file is rewritten through (a tag write, for one): hidden, ending in
// ".tonemirror-" and six letters or digits, so a folder walk and a file list can pass them by and a
// leftover is recognised as ours. The original's name (its first 200 bytes) is kept inside, so a
// person can still tell what a leftover was.

// The mkstemp pattern for a copy of the file named `fileName` (no folder): ends in "XXXXXX", and the
// name is never longer than 255 bytes.
std::string writeCopyPattern(std::string_view fileName);

// True when the file name (no folder) is one of those copies.
bool isWriteCopyName(std::string_view fileName);

} // namespace tonemirror::os
