#include "engine/ScanControl.h"

namespace tonemirror::engine {

void ScanControl::addJob() {
    if (jobs_.fetch_add(1, std::memory_order_acq_rel) + 1 == 1) {
        edge();
    }
}

void ScanControl::finishJob() {
    if (jobs_.fetch_sub(1, std::memory_order_acq_rel) - 1 == 0) {
        edge();
    }
}

void ScanControl::edge() {
    {
        std::lock_guard lock(mutex_);
        stop_.store(false, std::memory_order_release);
        run_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
    if (notify_ != nullptr) {
        notify_->post(UM_SCAN_STATE);
    }
}

void ScanControl::togglePause() {
    {
        std::lock_guard lock(mutex_);
        run_.store(!run_.load(std::memory_order_relaxed), std::memory_order_release);
    }
    changed_.notify_all();
}

void ScanControl::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
}

bool ScanControl::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return jobs_.load(std::memory_order_acquire) == 0; });
}

ScanControl::Wake ScanControl::waitRunOrStop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
        return stop_.load(std::memory_order_relaxed) || run_.load(std::memory_order_relaxed);
    });
    return stop_.load(std::memory_order_relaxed) ? Wake::Stop : Wake::Run;
}

} // namespace tonemirror::engine
