#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace tonemirror::shell {

// Text for a terminal or a text report: UTF-8, with everything that could steer a terminal or hide
// what a name really is written as an escape: control characters (\n, \r, \t, \x1B ...), DEL, C1
// controls and direction marks (\u009B, \u202E ...), a backslash (\\) and name bytes that are not
// UTF-8 (\xE9).
std::string displayText(std::u16string_view text);
// A name for a window: UTF-8 with name bytes that are not UTF-8 written as \xE9 and control
// characters as \x0A (instead of a replacement mark that hides which file it is); everything else,
// backslashes included, as it is. Shown only: the file is always opened by its real name.
std::string windowText(std::u16string_view name);
// The same as displayText for a name given in native bytes (a command-line argument).
std::string displayPath(std::string_view native);

// A file name as a JSON value under `key` of `object`. A UTF-8 name is stored as it is. A name
// holding bytes that are not UTF-8 cannot be a JSON string: each such byte is written as the text
// \xE9 and each backslash as \\, and `key` + "Escaped" is set to true, so the value still names
// exactly one file and every JSON reader accepts it.
void putName(nlohmann::json& object, const std::string& key, std::u16string_view name);
void putNativeName(nlohmann::json& object, const std::string& key, std::string_view native);

// The document with an indent of 2; text that is not UTF-8 is replaced rather than thrown on.
std::string dumpJson(const nlohmann::json& document);

} // namespace tonemirror::shell
