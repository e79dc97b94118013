#include "MCTaskPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using Trelis::MCTaskPool;

// Every task runs once, on a worker within the pool; completions come back in order on the
// calling thread, also when later tasks finish first.
TEST(MCTaskPool, RunsEveryTaskOnceAndHandsThemBackInOrder) {
    for (const unsigned int threads : {1u, 3u}) {
        const MCTaskPool pool(threads);
        constexpr std::size_t kTasks = 200;
        std::vector<std::atomic<int>> runs(kTasks);
        std::vector<std::size_t> done;
        const auto caller = std::this_thread::get_id();
        bool doneOnCaller = true;
        pool.run(
            kTasks,
            [&](std::size_t i, unsigned int worker) {
                EXPECT_LT(worker, pool.size());
                // Early tasks take longest, so later ones finish before them.
                if (i < 3) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                ++runs[i];
            },
            [&](std::size_t i) {
                doneOnCaller = doneOnCaller && std::this_thread::get_id() == caller;
                EXPECT_EQ(runs[i], 1) << i;
                done.push_back(i);
            });
        for (std::size_t i = 0; i < kTasks; ++i) {
            EXPECT_EQ(runs[i], 1) << i;
            ASSERT_EQ(done[i], i);
        }
        EXPECT_TRUE(doneOnCaller);
    }
    EXPECT_GE(MCTaskPool(0).size(), 1u);
}

// A failing task stops what has not begun and the completions, and its exception comes back. The
// other tasks take a while, so that on a busy machine the second thread can't finish them all
// in the moment the failing one takes to stop the run.
TEST(MCTaskPool, AFailureStopsTheRestAndIsThrownAgain) {
    const MCTaskPool pool(2);
    std::atomic<int> started{0};
    std::vector<std::size_t> done;
    EXPECT_THROW(pool.run(
                     10000,
                     [&](std::size_t i, unsigned int) {
                         ++started;
                         if (i == 5) {
                             throw std::runtime_error("task 5");
                         }
                         std::this_thread::sleep_for(std::chrono::microseconds(100));
                     },
                     [&](std::size_t i) { done.push_back(i); }),
                 std::runtime_error);
    EXPECT_LT(started, 10000);
    EXPECT_LE(done.size(), 5u);
    EXPECT_THROW(pool.run(
                     4, [](std::size_t, unsigned int) {},
                     [](std::size_t i) {
                         if (i == 2) {
                             throw std::logic_error("done 2");
                         }
                     }),
                 std::logic_error);
}
