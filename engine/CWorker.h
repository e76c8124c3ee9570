#pragma once

#include "analysis/CComparer.h"
#include "engine/WorkerPool.h"

namespace tonemirror::engine {

class ScanEngine;

// The context of one worker thread: its own comparer (with its AudioSource and buffers) and the
// engine it works for. Runs each job on the engine with that comparer.
class CWorker : public WorkerPool::Worker {
public:
    CWorker(ScanEngine& engine, const audio::PluginList& plugins) : engine_(engine), comparer_(plugins) {}

    // Lowers the thread's priority; false when the comparer cannot start.
    bool initialize() { return succeeded(comparer_.initialize()); }
    void run(ScanJob& job) override;

private:
    ScanEngine& engine_;
    analysis::CComparer comparer_;
};

} // namespace tonemirror::engine
