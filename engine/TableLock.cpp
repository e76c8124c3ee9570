#include "engine/TableLock.h"

namespace tonemirror::engine {

void TableLock::lockShared() {
    std::unique_lock lock(guard_);
    if (waitingWriters_ != 0 || active_ < 0) {
        ++waitingReaders_;
        // The releasing thread has already counted us into active_.
        readerGate_.wait(lock, [this] { return readerGrants_ > 0; });
        --readerGrants_;
        return;
    }
    ++active_;
}

void TableLock::lockExclusive() {
    std::unique_lock lock(guard_);
    ++exclusiveGrants_;
    if (active_ != 0) {
        ++waitedGrants_;
        if (waitingWriters_++ == 0 && active_ > 0) {
            drainingSince_ = std::chrono::steady_clock::now();
        }
        writerWaiting_.store(true, std::memory_order_relaxed);
        // The releasing thread has already set active_ to -1 for us.
        writerGate_.wait(lock, [this] { return writerGrants_ > 0; });
        --writerGrants_;
        return;
    }
    active_ = -1;
    heldSince_ = std::chrono::steady_clock::now();
}

void TableLock::unlock() {
    std::unique_lock lock(guard_);
    const bool reading = active_ > 0;
    if (reading) {
        --active_;
    }
    if (active_ > 0 || (reading && waitingWriters_ == 0)) {
        return; // the readers' common way out, without reading the clock
    }
    const auto now = std::chrono::steady_clock::now();
    if (!reading) {
        active_ = 0;
        exclusiveHeld_ += now - heldSince_;
    }
    if (waitingWriters_ > 0) {
        if (reading) {
            draining_ += now - drainingSince_;
        }
        heldSince_ = now;
        active_ = -1;
        if (--waitingWriters_ > 0) {
            drainingSince_ = now; // the next writer waits for this one, not for readers
        }
        writerWaiting_.store(waitingWriters_ > 0, std::memory_order_relaxed);
        ++writerGrants_;
        lock.unlock();
        writerGate_.notify_one();
        return;
    }
    const std::int32_t readers = waitingReaders_;
    active_ = readers;
    waitingReaders_ = 0;
    readerGrants_ += readers;
    lock.unlock();
    if (readers > 0) {
        readerGate_.notify_all();
    }
}

TableLock::State TableLock::state() const {
    std::lock_guard lock(guard_);
    return {waitingReaders_, waitingWriters_, active_,  exclusiveGrants_,
            waitedGrants_,   exclusiveHeld_,  draining_};
}

} // namespace tonemirror::engine
