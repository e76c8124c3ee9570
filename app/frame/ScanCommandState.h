#pragma once

#include <cstdint>

namespace tonemirror::app {

// Enabled and checked states of Start, Pause and Stop for one reading of the scan control.
struct ScanCommandState {
    bool startEnabled = true;
    bool pauseEnabled = false;
    bool pauseChecked = false;
    bool stopEnabled = false;

    bool operator==(const ScanCommandState&) const = default;
};

// stopRequested: the stop event; jobCount: jobs created and not finished; running: the run event.
ScanCommandState scanCommandState(bool stopRequested, std::int32_t jobCount, bool running);

} // namespace tonemirror::app
