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
        ++waitingWriters_;
        // The releasing thread has already set active_ to -1 for us.
        writerGate_.wait(lock, [this] { return writerGrants_ > 0; });
        --writerGrants_;
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
    return {waitingReaders_, waitingWriters_, active_, exclusiveGrants_, waitedGrants_};
}

} // namespace tonemirror::engine
