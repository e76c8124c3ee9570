#include "engine/CWorker.h"

#include "engine/ScanEngine.h"

namespace tonemirror::engine {

void CWorker::run(ScanJob& job) {
    // Job results are not used further: a file that fails is simply not stored.
    switch (job.kind) {
    case ScanJob::WalkFolder:
        engine_.walkFolder(job.path1);
        break;
    case ScanJob::AnalyseFile:
        engine_.runAnalyseFile(comparer_, job.path1);
        break;
    case ScanJob::ComparePair:
        engine_.runComparePair(comparer_, job.path1, job.path2);
        break;
    }
}

} // namespace tonemirror::engine
