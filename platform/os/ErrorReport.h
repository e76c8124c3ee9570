#pragma once

#include <cstdint>

namespace tonemirror::os {

// Records a failure during start-up or window creation on standard error as
// "<location>:<line> failed [<code>]" (no line break). A null location is written as "UNKNOWN".
void reportError(const char* location, int line, std::int32_t code);

} // namespace tonemirror::os
