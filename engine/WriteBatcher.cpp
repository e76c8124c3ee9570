#include "engine/WriteBatcher.h"

namespace tonemirror::engine {

void WriteBatcher::run(const std::function<void()>& job) {
    Handed mine{&job, nullptr, false};
    std::unique_lock guard(mutex_);
    handed_.push_back(&mine);
    while (!mine.done) {
        if (running_) {
            ran_.wait(guard);
        } else {
            runHanded(guard);
        }
    }
    if (mine.failure) {
        std::rethrow_exception(mine.failure);
    }
}

std::size_t WriteBatcher::waiting() const {
    std::lock_guard guard(mutex_);
    return handed_.size();
}

void WriteBatcher::runHanded(std::unique_lock<std::mutex>& guard) {
    running_ = true;
    guard.unlock();
    lock_.lockExclusive();
    guard.lock();
    std::vector<Handed*> batch;
    while (!handed_.empty()) {
        batch.swap(handed_);
        guard.unlock();
        for (Handed* h : batch) {
            try {
                (*h->job)();
            } catch (...) {
                h->failure = std::current_exception();
            }
        }
        guard.lock();
        for (Handed* h : batch) {
            h->done = true; // its owner may return and free it once the guard is let go
        }
        batch.clear();
    }
    running_ = false;
    lock_.unlock();
    ran_.notify_all();
}

} // namespace tonemirror::engine
