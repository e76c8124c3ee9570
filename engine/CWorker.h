#pragma once

#include "analysis/CComparer.h"
#include "audio/AudioSource.h"
#include "engine/WorkerPool.h"

namespace tonemirror::engine {

class ScanEngine;

// The context of one worker thread: its own comparer (with its AudioSource and buffers) and the
// engine it works for. Runs each job on the engine with that comparer.
class CWorker : public WorkerPool::Worker {
public:
    CWorker(ScanEngine& engine, std::unique_ptr<audio::AudioSource> source)
        : engine_(engine), comparer_(std::move(source)) {}

    // Lowers the thread's priority; false when the comparer cannot start.
    bool initialize() { return succeeded(comparer_.initialize()); }
    void run(ScanJob& job) override;

private:
    ScanEngine& engine_;
    analysis::CComparer comparer_;
};

} // namespace tonemirror::engine
