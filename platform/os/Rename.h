#pragma once

#include <filesystem>
#include <system_error>

namespace tonemirror::os {

// Renames `from` to `to` unless something already exists at `to`, also when another program creates
// that name at the same moment. Uses renameat2(RENAME_NOREPLACE); where the file system does not offer
// it, a hard link followed by removing the old name. Empty on success; otherwise the file keeps its old
// name and the error says why (std::errc::file_exists for a name clash).
std::error_code renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace tonemirror::os
