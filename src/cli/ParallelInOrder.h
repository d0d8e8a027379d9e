#pragma once

// Runs numbered tasks in parallel and hands them back in their order, as a three-stage
// tbb::parallel_pipeline: a serial stage hands out the indices 0, 1, 2, ..., a parallel stage
// does the tasks, and a serial in-order stage reports each one once every task before it has
// been reported, whatever order the tasks finish in.

#include <cstddef>
#include <functional>

namespace lumetra {

struct InOrderCallbacks {
    // Does task i, on any thread of the caller's task arena, at the same time as other tasks.
    // Tasks write their results to places of their own (slot i of a vector); the pipeline
    // makes them visible to ready(i).
    std::function<void(std::size_t index)> work;
    // Called for 0, 1, 2, ... in order, one call at a time, on any thread of the arena.
    std::function<void(std::size_t index)> ready;
    // Called right after ready(i), in the same way, with the number of tasks reported: i + 1.
    // May be empty.
    std::function<void(std::size_t done)> progress;
};

// Runs work(0) ... work(count - 1) in the caller's task arena (tbb::this_task_arena), each
// once, handed out in index order, with at most `jobs` tasks in flight (at least one): a task
// is in flight from the moment it is handed out until it is reported.  Returns once every
// task has been reported; an empty run calls nothing.
//
// When work(i) throws, no further task is handed out and tasks after i that have not started
// are skipped.  Every task before i is still waited for and reported, and then the exception
// leaves runInOrder; task i and the tasks after it are not reported.  When ready or progress
// throws, nothing more is reported and the exception leaves runInOrder once the tasks still
// running have returned.
void runInOrder(std::size_t count, unsigned jobs, const InOrderCallbacks& callbacks);

}  // namespace lumetra
