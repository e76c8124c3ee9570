#pragma once

#include "engine/ScanControl.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tonemirror::engine {

// One unit of work of the worker pool. Made only through make(), which registers it with the scan
// control; the worker that takes it off the queue destroys it and then calls finishJob, whether the
// job ran or was skipped.
struct ScanJob {
    enum Kind : std::int32_t { WalkFolder = 0, AnalyseFile = 1, ComparePair = 2 };

    Kind kind;
    std::u16string path1; // folder, file, or first file of the pair
    std::u16string path2; // second file of the pair (ComparePair only)

    static std::unique_ptr<ScanJob> make(ScanControl& control, Kind kind, std::u16string path1,
                                         std::u16string path2 = {}) {
        auto job = std::unique_ptr<ScanJob>(new ScanJob{kind, std::move(path1), std::move(path2)});
        control.addJob();
        return job;
    }
};

} // namespace tonemirror::engine
