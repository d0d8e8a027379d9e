#pragma once

// Runs numbered tasks on several threads and hands them back in their order: task i is
// reported as soon as it and every task before it have finished, whatever order the threads
// finish them in.

#include <cstddef>
#include <functional>

namespace lumetra {

struct InOrderCallbacks {
    // Does task i on a worker thread.  Tasks write their results to places of their own
    // (slot i of a vector); runInOrder makes them visible to the reporting thread.
    std::function<void(std::size_t index)> work;
    // Called on the calling thread for 0, 1, 2, ... in order.
    std::function<void(std::size_t index)> ready;
    // Called on the calling thread with the number of finished tasks whenever it has grown.
    std::function<void(std::size_t done)> progress;
};

// Runs work(0) ... work(count - 1) on at most `jobs` threads (at least one), each task once,
// taking them in index order.  Returns when every task has been reported.  An exception
// from work stops the hand-out of further tasks; the tasks already started finish, and the
// exception is rethrown here after all threads have ended (tasks from the failed one on are
// not reported).  An exception from ready or progress likewise ends the run.
void runInOrder(std::size_t count, unsigned jobs, const InOrderCallbacks& callbacks);

}  // namespace lumetra
