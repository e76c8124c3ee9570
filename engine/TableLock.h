#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tonemirror::engine {

// Reader-writer lock guarding the track table, the ignored pairs, the cache file position and the
// track-id counter. A waiting writer keeps new readers out, so inserts are never starved by the long
// comparison loops that hold the lock shared. When the lock is released it is handed straight to the
// next owner (one writer, or every waiting reader at once) before anyone else can grab it.
// Not re-entrant: a thread holding it, in either mode, must unlock before taking it again.
class TableLock {
public:
    TableLock() = default;
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    void lockShared();
    void lockExclusive();
    void unlock();

    // Counters as seen under the guard, for diagnostics and tests.
    struct State {
        std::int32_t waitingReaders;
        std::int32_t waitingWriters;
        std::int32_t active;                    // > 0 readers holding it, -1 a writer holds it, 0 free
        std::uint64_t exclusiveGrants;          // since the lock was made
        std::uint64_t waitedGrants;             // of those, the ones that waited for the lock to be let go
        std::chrono::nanoseconds exclusiveHeld; // in all, by writers
        std::chrono::nanoseconds draining;      // a writer waiting for readers to let go
    };
    State state() const;
    // Whether a writer waits for the lock, read without its guard (a hint: it may change right away).
    bool writerWaiting() const { return writerWaiting_.load(std::memory_order_relaxed); }

private:
    // The waiters are let in by grants counted under guard_, not by semaphores: the standard library
    // of our toolchain has a semaphore that can miss a release and leave its waiter asleep for good.
    mutable std::mutex guard_;
    std::condition_variable readerGate_;
    std::condition_variable writerGate_;
    std::int32_t readerGrants_ = 0;
    std::int32_t writerGrants_ = 0;
    std::int32_t waitingReaders_ = 0;
    std::int32_t waitingWriters_ = 0;
    std::atomic<bool> writerWaiting_{false}; // waitingWriters_ > 0
    std::int32_t active_ = 0;
    std::uint64_t exclusiveGrants_ = 0;
    std::uint64_t waitedGrants_ = 0;
    std::chrono::steady_clock::time_point heldSince_;
    std::chrono::steady_clock::time_point drainingSince_;
    std::chrono::nanoseconds exclusiveHeld_{0};
    std::chrono::nanoseconds draining_{0};
};

// Holds the lock exclusively from creation; can drop it early and take it again. Unlocks on
// destruction only if it still holds the lock.
class TableLockHolder {
public:
    explicit TableLockHolder(TableLock& lock) : lock_(lock) {
        lock_.lockExclusive();
        held_ = true;
    }
    ~TableLockHolder() {
        if (held_) {
            lock_.unlock();
        }
    }
    TableLockHolder(const TableLockHolder&) = delete;
    TableLockHolder& operator=(const TableLockHolder&) = delete;

    void unlock() {
        if (held_) {
            held_ = false;
            lock_.unlock();
        }
    }
    void relock() {
        if (!held_) {
            lock_.lockExclusive();
            held_ = true;
        }
    }
    bool holds() const { return held_; }

private:
    TableLock& lock_;
    bool held_ = false;
};

// Holds the lock shared for its whole scope (the comparison loop).
class SharedTableLockHolder {
public:
    explicit SharedTableLockHolder(TableLock& lock) : lock_(lock) { lock_.lockShared(); }
    ~SharedTableLockHolder() { lock_.unlock(); }
    SharedTableLockHolder(const SharedTableLockHolder&) = delete;
    SharedTableLockHolder& operator=(const SharedTableLockHolder&) = delete;

    // When a writer waits, lets it have the lock and takes it back shared after it. A long comparison
    // calls this where it holds nothing a writer may move, so that the other workers need not stand
    // idle until it ends. True when the lock was let go (what was read under it may have changed).
    bool letWriterIn() {
        if (!lock_.writerWaiting()) {
            return false;
        }
        lock_.unlock();
        lock_.lockShared();
        return true;
    }

private:
    TableLock& lock_;
};

} // namespace tonemirror::engine
