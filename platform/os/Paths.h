#pragma once

#include <filesystem>
#include <string>

namespace tonemirror::os {

// The platform's path separator; every rule about folder separators uses this one.
inline constexpr char16_t kNativeSeparator = u'/';

// Folder holding the running executable (where the plug-ins and "Locale" live). Empty on failure.
std::filesystem::path programFolder();

// Per-user data folder of the program: $XDG_DATA_HOME/Tonemirror, else ~/.local/share/Tonemirror.
// Not created here.
std::filesystem::path userDataFolder();

// Conversions between the UTF-16 paths of the core and the native (UTF-8) paths of the OS.
std::filesystem::path toNativePath(std::u16string_view path);
std::u16string fromNativePath(const std::filesystem::path& path);

// True when a new file can be created in the folder (tested by creating and removing one).
bool isFolderWritable(const std::filesystem::path& folder);

} // namespace tonemirror::os
