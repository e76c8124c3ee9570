#pragma once

// The command line's texts for names: shown escaped on a terminal, marked when escaped in JSON.
#include "shell/NameText.h"

namespace tonemirror::cli {

using shell::displayPath;
using shell::displayText;
using shell::dumpJson;
using shell::putName;
using shell::putNativeName;

} // namespace tonemirror::cli
