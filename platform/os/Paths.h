#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tonemirror::os {

// The platform's path separator; every rule about folder separators uses this one.
inline constexpr char16_t kNativeSeparator = u'/';

// Folder holding the running executable (where the plug-ins and "Locale" live). Empty on failure.
std::filesystem::path programFolder();

// Per-user data folder of the program: $XDG_DATA_HOME/Tonemirror, else ~/.local/share/Tonemirror.
// Not created here.
std::filesystem::path userDataFolder();

// Native names are bytes, UTF-8 by convention but not by rule. The core's UTF-16 text holds them
// losslessly: UTF-8 sequences become their characters, and every byte that is not part of one becomes
// a lone low surrogate U+DC80..U+DCFF (byte 0x80..0xFF), which no UTF-8 text can produce; the way back
// turns those into the bytes again. So every name round-trips byte for byte. Other lone surrogates
// cannot come from a name and become U+FFFD.
std::u16string fromNativeName(std::string_view bytes);
std::string toNativeName(std::u16string_view text);
// The byte a UTF-16 unit stands for, or -1 when it is no such escape.
int escapedByte(char16_t unit);

// The same for paths.
std::filesystem::path toNativePath(std::u16string_view path);
std::u16string fromNativePath(const std::filesystem::path& path);

// True when a new file can be created in the folder (tested by creating and removing one).
bool isFolderWritable(const std::filesystem::path& folder);

} // namespace tonemirror::os
