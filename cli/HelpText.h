#pragma once

#include "cli/CliCommon.h"

#include <string>
#include <string_view>

namespace tonemirror::cli {

// The texts of --help and --version in the form GNU tools use, and the option facts they rest on.

// `tonemirror-cli --help`: usage, the commands, the common options, exit statuses.
std::string programHelp();
// `tonemirror-cli --version`.
std::string versionText();
// `tonemirror-cli COMMAND --help`; empty for an unknown command.
std::string commandHelp(std::string_view command);
// The hint printed after a usage error, e.g. "Try 'tonemirror-cli scan --help' for more information."
std::string tryHelpHint(std::string_view command);

// True when the command's arguments ask for help: "-h" or "--help" where an option may stand (not
// as the value of an option that takes one, nor after "--").
bool wantsHelp(std::string_view command, const Args& args);
// The arguments with every "--option=value" of an option that takes a value split in two, the form
// the commands read; everything from "--" on is kept as it is.
Args splitOptionValues(std::string_view command, const Args& args);

} // namespace tonemirror::cli
