#include "engine/TableLock.h"

namespace tonemirror::engine {

void TableLock::lockShared() {
    std::unique_lock lock(guard_);
    if (waitingWriters_ != 0 || active_ < 0) {
        ++waitingReaders_;
        lock.unlock();
        // The releasing thread has already counted us into active_.
        readerGate_.acquire();
        return;
    }
    ++active_;
}

void TableLock::lockExclusive() {
    std::unique_lock lock(guard_);
    if (active_ != 0) {
        ++waitingWriters_;
        lock.unlock();
        // The releasing thread has already set active_ to -1 for us.
        writerGate_.acquire();
        return;
    }
    active_ = -1;
}

void TableLock::unlock() {
    std::unique_lock lock(guard_);
    if (active_ > 0) {
        --active_;
    } else {
        active_ = 0;
    }
    if (active_ != 0) {
        return;
    }
    if (waitingWriters_ > 0) {
        active_ = -1;
        --waitingWriters_;
        lock.unlock();
        writerGate_.release(1);
        return;
    }
    const std::int32_t readers = waitingReaders_;
    active_ = readers;
    waitingReaders_ = 0;
    lock.unlock();
    if (readers > 0) {
        readerGate_.release(readers);
    }
}

TableLock::State TableLock::state() const {
    std::lock_guard lock(guard_);
    return {waitingReaders_, waitingWriters_, active_};
}

} // namespace tonemirror::engine
