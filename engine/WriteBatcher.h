#pragma once

#include "engine/TableLock.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

namespace tonemirror::engine {

// Runs the short jobs that need the TableLock exclusively in batches. Each exclusive grant first
// waits for every comparison holding the lock shared to end, and no new one starts meanwhile, so a
// processor idles until the longest of them is done; with one grant per joining track that idle time
// grows with the comparisons' length. Here a thread hands its job over; one thread at a time takes
// the lock and runs every job handed over while it waited, so the threads that finish their
// comparisons meanwhile join in one grant.
class WriteBatcher {
public:
    explicit WriteBatcher(TableLock& lock) : lock_(lock) {}
    WriteBatcher(const WriteBatcher&) = delete;
    WriteBatcher& operator=(const WriteBatcher&) = delete;

    // Runs `job` with the lock held exclusively, on this thread or on another one that holds it, and
    // returns once it ran; an exception it threw is thrown here. The caller must not hold the lock.
    void run(const std::function<void()>& job);

    // Jobs handed over and not yet run, for diagnostics and tests.
    std::size_t waiting() const;

private:
    struct Handed {
        const std::function<void()>* job;
        std::exception_ptr failure;
        bool done = false;
    };
    // Runs the jobs handed over until none is left; `guard` holds mutex_ and is held again on return.
    void runHanded(std::unique_lock<std::mutex>& guard);

    TableLock& lock_;
    mutable std::mutex mutex_; // guards the three below; never held while waiting for the TableLock
    std::condition_variable ran_;
    std::vector<Handed*> handed_;
    bool running_ = false; // a thread is taking the lock or running jobs
};

} // namespace tonemirror::engine
