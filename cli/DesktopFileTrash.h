#pragma once

#include "shell/FileTrash.h"

#include <memory>

namespace tonemirror::cli {

// The trash the command line's clean-ups use. Never null: where no trash can be used, one that
// refuses every file with the reason, so moves still run and nothing is deleted instead.
std::unique_ptr<shell::FileTrash> desktopTrash();

} // namespace tonemirror::cli
