#pragma once

#include "engine/UserMessage.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace tonemirror::fakes {

// Records every message the engine posts, and lets a test wait for what the messages announce.
class RecordingSink : public engine::MessageSink {
public:
    void post(std::uint32_t message) override {
        std::function<void(std::uint32_t)> hook;
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
            changed_.notify_all();
            hook = onPost_;
        }
        if (hook) {
            hook(message);
        }
    }
    // Runs on the posting thread after each message is recorded. A worker may still post after the
    // scan a test waited for has ended, so the hook is swapped under the lock.
    void setOnPost(std::function<void(std::uint32_t)> hook) {
        std::lock_guard lock(mutex_);
        onPost_ = std::move(hook);
    }
    int count(std::uint32_t message) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(messages_.begin(), messages_.end(), message));
    }

    // Waits until `ready()` holds, checking it again after every message; false once `timeout` has
    // passed. `ready` is called without the sink's lock: the engine posts while holding its own locks,
    // so it may read engine state. The engine posts after each change a test waits for.
    template <typename Ready>
    bool waitUntil(Ready ready, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::unique_lock lock(mutex_);
        for (;;) {
            const std::size_t seen = messages_.size();
            lock.unlock();
            if (ready()) {
                return true;
            }
            lock.lock();
            if (!changed_.wait_until(lock, deadline, [&] { return messages_.size() != seen; })) {
                lock.unlock();
                return ready();
            }
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint32_t> messages_;
    std::function<void(std::uint32_t)> onPost_;
};

} // namespace tonemirror::fakes
