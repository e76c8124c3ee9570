#include "engine/WriteBatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tonemirror::engine {
namespace {

using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST(WriteBatcher, JobsRunUnderTheExclusiveLockAndNeverBesideAReader) {
    TableLock lock;
    WriteBatcher writes(lock);
    long counter = 0; // plain: only jobs write it, only readers holding the lock read it
    std::atomic<bool> writersDone{false};
    std::atomic<int> outsideTheLock{0};
    std::atomic<int> changedUnderReader{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                writes.run([&] {
                    outsideTheLock += lock.state().active == -1 ? 0 : 1;
                    ++counter;
                });
            }
        });
    }
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            while (!writersDone.load()) {
                lock.lockShared();
                const long before = counter;
                std::this_thread::yield();
                changedUnderReader += counter == before ? 0 : 1;
                lock.unlock();
            }
        });
    }
    for (int t = 0; t < 6; ++t) {
        threads[static_cast<std::size_t>(t)].join();
    }
    writersDone = true;
    threads[6].join();
    threads[7].join();
    EXPECT_EQ(counter, 6 * 300);
    EXPECT_EQ(outsideTheLock, 0);
    EXPECT_EQ(changedUnderReader, 0);
    EXPECT_EQ(writes.waiting(), 0u);
}

TEST(WriteBatcher, JobsHandedOverWhileTheLockIsBusyRunInOneGrant) {
    TableLock lock;
    WriteBatcher writes(lock);
    lock.lockShared(); // a long comparison
    constexpr int kThreads = 4;
    std::vector<std::thread::id> ranOn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(
            [&, t] { writes.run([&] { ranOn[static_cast<std::size_t>(t)] = std::this_thread::get_id(); }); });
    }
    // One thread waits for the lock, the others have handed their jobs over.
    ASSERT_TRUE(eventually([&] { return lock.state().waitingWriters == 1 && writes.waiting() == kThreads; }));
    lock.unlock();
    for (std::thread& t : threads) {
        t.join();
    }
    for (const std::thread::id& id : ranOn) {
        EXPECT_EQ(id, ranOn[0]);
    }
    EXPECT_EQ(lock.state().active, 0);
    EXPECT_EQ(lock.state().waitingWriters, 0);
}

TEST(WriteBatcher, AFailingJobFailsOnlyItsOwnCaller) {
    TableLock lock;
    WriteBatcher writes(lock);
    lock.lockShared();
    std::atomic<int> ran{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            try {
                writes.run([&] {
                    ++ran;
                    if (t == 1) {
                        throw std::runtime_error("full");
                    }
                });
            } catch (const std::runtime_error&) {
                failed += t == 1 ? 1 : 100;
            }
        });
    }
    ASSERT_TRUE(eventually([&] { return writes.waiting() == 3; }));
    lock.unlock();
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(ran, 3);
    EXPECT_EQ(failed, 1);
    // The lock is free again, and the batcher takes new jobs.
    writes.run([&] { ++ran; });
    EXPECT_EQ(ran, 4);
    EXPECT_EQ(lock.state().active, 0);
}

} // namespace
} // namespace tonemirror::engine
