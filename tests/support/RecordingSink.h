#pragma once

#include "engine/UserMessage.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tonemirror::fakes {

// Records every message the engine posts.
class RecordingSink : public engine::MessageSink {
public:
    void post(std::uint32_t message) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
        changed_.notify_all();
    }
    int count(std::uint32_t message) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(messages_.begin(), messages_.end(), message));
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint32_t> messages_;
};

} // namespace tonemirror::fakes
