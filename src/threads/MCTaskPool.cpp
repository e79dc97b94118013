#include "MCTaskPool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace Trelis {

MCTaskPool::MCTaskPool(unsigned int threads)
    : threads_(threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency())) {}

void MCTaskPool::run(std::size_t count, const Task& task, const Done& done) const {
    const auto workers = static_cast<unsigned int>(std::min<std::size_t>(threads_, count));
    if (workers <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            task(i, 0);
            if (done) {
                done(i);
            }
        }
        return;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex lock;
    std::condition_variable finishedOne;
    std::vector<char> finished(count, 0);  // guarded by `lock`
    std::exception_ptr error;              // the first failure, guarded by `lock`
    const auto fail = [&] {
        const std::lock_guard<std::mutex> guard(lock);
        if (!error) {
            error = std::current_exception();
        }
        failed = true;
    };
    // Takes tasks until none is left or one failed; only one with `once`.
    const auto work = [&](unsigned int worker, bool once) {
        while (!failed) {
            const std::size_t i = next++;
            if (i >= count) {
                return;
            }
            try {
                task(i, worker);
            } catch (...) {
                fail();
            }
            {
                const std::lock_guard<std::mutex> guard(lock);
                finished[i] = 1;
            }
            finishedOne.notify_all();
            if (once) {
                return;
            }
        }
    };
    std::vector<std::thread> threads;
    try {
        for (unsigned int w = 1; w < workers; ++w) {
            threads.emplace_back(work, w, false);
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked: the ones started, and this one, do the work.
    }
    // The calling thread takes tasks one at a time, handing back what has finished in between,
    // then waits for the rest.
    std::size_t reported = 0;
    const auto handBack = [&](bool wait) {
        while (reported < count && !failed) {
            {
                std::unique_lock<std::mutex> guard(lock);
                if (wait) {
                    finishedOne.wait(guard, [&] { return finished[reported] != 0 || failed; });
                }
                if (finished[reported] == 0 || failed) {
                    return;
                }
            }
            try {
                if (done) {
                    done(reported);
                }
            } catch (...) {
                fail();
            }
            ++reported;
        }
    };
    while (!failed && next < count) {
        work(0, true);
        handBack(false);
    }
    handBack(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

}  // namespace Trelis
