#pragma once

#include "engine/ScanJob.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace tonemirror::engine {

// A fixed set of threads fed first in, first out from one queue. Each thread builds its own worker
// context when it starts and keeps it for its whole life. For every job taken off the queue the
// thread waits until the scan runs or a stop is requested; a stopped scan's jobs are destroyed
// without running. Either way the job is destroyed and then finished on the scan control.
class WorkerPool {
public:
    // The per-thread context: runs one job (the pool has already waited for run or stop).
    class Worker {
    public:
        virtual ~Worker() = default;
        virtual void run(ScanJob& job) = 0;
    };
    // Called on each new thread; null means the context could not start (the thread then only
    // drains jobs without running them, so a scan still comes to its end).
    using WorkerFactory = std::function<std::unique_ptr<Worker>()>;

    static constexpr std::chrono::milliseconds kDefaultShutdownWait{36000};
    static constexpr std::chrono::milliseconds kInfiniteWait = std::chrono::milliseconds::max();

    explicit WorkerPool(ScanControl& control);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts the threads; 0 means two per processor. False when the pool already runs.
    bool create(unsigned threadCount, WorkerFactory factory);
    // Queues a job made by ScanJob::make on this pool's scan control.
    void post(std::unique_ptr<ScanJob> job);
    // Queues one shutdown marker per thread behind the jobs already queued and waits up to maxWait
    // (0 = the default wait) for the threads to end. Threads still running after that are left to
    // finish on their own; returns false then.
    bool shutdown(std::chrono::milliseconds maxWait);

    unsigned threadCount() const { return static_cast<unsigned>(threads_.size()); }
    // Workers whose context failed to start.
    unsigned failedWorkers() const;

private:
    struct Shared;

    ScanControl& control_;
    std::shared_ptr<Shared> shared_;
    std::vector<std::thread> threads_;
};

} // namespace tonemirror::engine
