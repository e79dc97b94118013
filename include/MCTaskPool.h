// MCTaskPool: numbered tasks spread over threads, their completions handed back in order.
//
// run() starts its threads for the call and joins them before it returns; the calling thread
// works too. A task learns its index and which worker runs it (0 to size() - 1), so that each
// worker can keep scratch state of its own. `done` runs on the calling thread only, for each
// index in increasing order once that task and every one before it have finished: output and
// progress come out as a single thread would give them, whatever the number of threads.
#pragma once

#include <cstddef>
#include <functional>

#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCTaskPool {
public:
    using Task = std::function<void(std::size_t index, unsigned int worker)>;
    using Done = std::function<void(std::size_t index)>;

    // `threads` 0 takes one per core the machine reports (at least one).
    explicit MCTaskPool(unsigned int threads);

    unsigned int size() const { return threads_; }

    // Runs task(i, worker) for every i below `count`. The first exception a task or `done`
    // throws stops the tasks not yet begun and `done`, and is thrown again once every thread has
    // stopped.
    void run(std::size_t count, const Task& task, const Done& done = Done()) const;

private:
    unsigned int threads_;
};

}  // namespace Trelis
