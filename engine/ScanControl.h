#pragma once

#include "engine/UserMessage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tonemirror::engine {

// Run state of the scan, shared by the front end and every worker: a run event (set = running,
// reset = paused), a stop event (set = stop requested, jobs are being drained) and the count of jobs
// created and not yet finished. Both edges of the job count (0 -> 1, 1 -> 0) reset the stop, set the
// run event and post UM_SCAN_STATE.
class ScanControl {
public:
    explicit ScanControl(MessageSink* notify = nullptr) : notify_(notify) {}
    ScanControl(const ScanControl&) = delete;
    ScanControl& operator=(const ScanControl&) = delete;

    // The front end that receives UM_SCAN_STATE; set once before any job exists.
    void setNotify(MessageSink* notify) { notify_ = notify; }

    bool isStopped() const { return stop_.load(std::memory_order_acquire); }
    // The stop state as a flag long computations can poll.
    const std::atomic<bool>* stopFlag() const { return &stop_; }
    bool isRunning() const { return run_.load(std::memory_order_acquire); }
    std::int32_t jobCount() const { return jobs_.load(std::memory_order_acquire); }

    void addJob();
    void finishJob();
    void togglePause();
    void requestStop();

    // Blocks until no job is left, or for at most `timeout`; true when none is left.
    bool waitIdle(std::chrono::milliseconds timeout);

    enum class Wake { Stop, Run };
    // Blocks until a stop is requested or the scan runs; stop wins when both hold.
    Wake waitRunOrStop();

private:
    void edge();

    MessageSink* notify_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> run_{true};
    std::atomic<bool> stop_{false};
    std::atomic<std::int32_t> jobs_{0};
};

} // namespace tonemirror::engine
