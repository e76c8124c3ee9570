#include "platform/os/ErrorReport.h"

#include <cstdio>

namespace tonemirror::os {

void reportError(const char* location, int line, std::int32_t code) {
    std::fprintf(stderr, "%s:%d failed [%d]", location != nullptr ? location : "UNKNOWN", line, code);
    std::fflush(stderr);
}

} // namespace tonemirror::os
