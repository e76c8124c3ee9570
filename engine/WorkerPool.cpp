#include "engine/WorkerPool.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tonemirror::engine {

// Queue state, shared with the threads so that a thread left running after a timed-out shutdown
// never touches freed memory of the pool itself.
struct WorkerPool::Shared {
    std::mutex mutex;
    std::condition_variable available;
    std::condition_variable exited;
    // A null entry is the shutdown marker.
    std::deque<std::unique_ptr<ScanJob>> queue;
    unsigned running = 0;
    unsigned failed = 0;
};

WorkerPool::WorkerPool(ScanControl& control) : control_(control), shared_(std::make_shared<Shared>()) {}

WorkerPool::~WorkerPool() {
    shutdown(kInfiniteWait);
}

bool WorkerPool::create(unsigned threadCount, WorkerFactory factory) {
    if (!threads_.empty()) {
        return false;
    }
    if (threadCount == 0) {
        threadCount = 2 * std::max(1u, std::thread::hardware_concurrency());
    }
    auto shared = shared_;
    ScanControl* control = &control_;
    {
        std::lock_guard lock(shared->mutex);
        shared->running = threadCount;
    }
    for (unsigned i = 0; i < threadCount; ++i) {
        threads_.emplace_back([shared, control, factory] {
            std::unique_ptr<Worker> worker = factory ? factory() : nullptr;
            if (!worker) {
                std::lock_guard lock(shared->mutex);
                ++shared->failed;
            }
            for (;;) {
                std::unique_ptr<ScanJob> job;
                {
                    std::unique_lock lock(shared->mutex);
                    shared->available.wait(lock, [&] { return !shared->queue.empty(); });
                    job = std::move(shared->queue.front());
                    shared->queue.pop_front();
                }
                if (!job) {
                    break; // shutdown marker
                }
                if (control->waitRunOrStop() == ScanControl::Wake::Run && worker) {
                    worker->run(*job);
                }
                job.reset();
                control->finishJob();
            }
            worker.reset();
            {
                std::lock_guard lock(shared->mutex);
                --shared->running;
            }
            shared->exited.notify_all();
        });
    }
    return true;
}

void WorkerPool::post(std::unique_ptr<ScanJob> job) {
    if (!job) {
        return;
    }
    {
        std::lock_guard lock(shared_->mutex);
        shared_->queue.push_back(std::move(job));
    }
    shared_->available.notify_one();
}

bool WorkerPool::shutdown(std::chrono::milliseconds maxWait) {
    if (threads_.empty()) {
        return true;
    }
    if (maxWait.count() == 0) {
        maxWait = kDefaultShutdownWait;
    }
    {
        std::lock_guard lock(shared_->mutex);
        for (std::size_t i = 0; i < threads_.size(); ++i) {
            shared_->queue.push_back(nullptr);
        }
    }
    shared_->available.notify_all();
    bool allEnded = true;
    {
        std::unique_lock lock(shared_->mutex);
        const auto done = [this] { return shared_->running == 0; };
        if (maxWait == kInfiniteWait) {
            shared_->exited.wait(lock, done);
        } else {
            allEnded = shared_->exited.wait_for(lock, maxWait, done);
        }
    }
    for (auto& t : threads_) {
        if (allEnded) {
            t.join();
        } else {
            t.detach();
        }
    }
    threads_.clear();
    return allEnded;
}

unsigned WorkerPool::failedWorkers() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->failed;
}

} // namespace tonemirror::engine
