#include "app/frame/ScanCommandState.h"

namespace tonemirror::app {

ScanCommandState scanCommandState(bool stopRequested, std::int32_t jobCount, bool running) {
    if (stopRequested) {
        return {false, false, false, false}; // stopping: nothing until the jobs are drained
    }
    if (jobCount <= 0) {
        return {true, false, false, false};
    }
    return {false, true, !running, true};
}

} // namespace tonemirror::app
