#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "Landmark.h"
#include "store/LandmarkSlabs.h"

using namespace Trelis;

namespace {

std::uint32_t tag(int thread, int k) {
    return static_cast<std::uint32_t>(thread) * 1000003u + static_cast<std::uint32_t>(k);
}

}  // namespace

// Landmarks made on several threads (many slabs each) and freed on others, one by one or in
// batches that mix slabs, some while more are made: no two share storage, and none is disturbed
// by the frees and allocations around it.
TEST(LandmarkSlabs, LandmarksOutliveTheirThreadsAndFreeAnywhere) {
    constexpr int kThreads = 4;
    constexpr int kEach = 20000;
    std::vector<std::vector<Landmark*>> made(kThreads);
    std::vector<std::thread> makers;
    for (int t = 0; t < kThreads; ++t) {
        makers.emplace_back([&made, t] {
            for (int k = 0; k < kEach; ++k) {
                made[t].push_back(new Landmark{k, nullptr, tag(t, k)});
            }
        });
    }
    for (std::thread& m : makers) {
        m.join();
    }
    std::set<const Landmark*> distinct;
    for (const auto& list : made) {
        distinct.insert(list.begin(), list.end());
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kEach));

    // Every other landmark of the first two threads goes on other threads, while the others
    // make more; then whatever is left must still read as it was written.
    // The second thread's go as one batch, every other one (the runs of one slab are broken up)
    // with null entries between.
    std::vector<std::thread> churn;
    for (int t = 0; t < 2; ++t) {
        churn.emplace_back([&made, t] {
            std::vector<Landmark*> batch;
            for (int k = 0; k < kEach; k += 2) {
                if (t == 0) {
                    delete made[t][k];
                } else {
                    batch.push_back(made[t][k]);
                    batch.push_back(nullptr);
                }
                made[t][k] = nullptr;
            }
            LandmarkSlabs::releaseLandmarks(batch.data(), batch.size());
        });
        churn.emplace_back([&made, t] {
            for (int k = 0; k < kEach; ++k) {
                made[t + 2].push_back(new Landmark{-k, nullptr, tag(t + 2, kEach + k)});
            }
        });
    }
    for (std::thread& c : churn) {
        c.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        for (std::size_t k = 0; k < made[t].size(); ++k) {
            const Landmark* l = made[t][k];
            if (l == nullptr) {
                continue;
            }
            const int frame = static_cast<int>(k);
            ASSERT_EQ(l->hash, tag(t, frame)) << "thread " << t << " landmark " << k;
            ASSERT_EQ(l->time, frame < kEach ? frame : -(frame - kEach));
        }
    }
    // The rest in one batch that runs through every thread's slabs, as a record's landmarks do
    // when its frames were extracted on several threads.
    std::vector<Landmark*> rest;
    for (std::size_t k = 0; k < made[3].size(); ++k) {  // the longest list
        for (const auto& list : made) {
            if (k < list.size()) {
                rest.push_back(list[k]);
            }
        }
    }
    LandmarkSlabs::releaseLandmarks(rest.data(), rest.size());
}
