#pragma once

// Parallel loops on oneTBB's scheduler: no thread is started per call; the work runs on the
// threads of the task arena the caller runs in, so nested loops and several images in flight
// share one pool and never oversubscribe the machine.
//
// Each loop runs in a task group of its own, isolated from the caller's: when the caller's
// group is cancelled (a pipeline stage that threw, a sibling task that failed), oneTBB would
// otherwise skip the loop's remaining iterations without a word and the caller would go on
// with planes half made.  A loop here either runs every iteration or throws.

#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <utility>

namespace lumetra {

// Threads the caller's task arena offers (every core unless the caller limited it).
inline unsigned defaultWorkers() {
    return static_cast<unsigned>(std::max(1, tbb::this_task_arena::max_concurrency()));
}

// Runs fn(index, runner) for index 0 .. count-1 on at most `workers` runners at once (0: as
// many as the arena offers).  Indices are handed out in increasing order, each to the next
// free runner, so that work streamed through the loop starts in order; nothing may depend on
// the order in which they finish.  `runner` (0 .. runners-1) is the same for every index one
// runner takes, so each can keep its own scratch space.  The first exception stops the
// hand-out and is rethrown once every runner has returned.
template <typename Fn>
void parallelFor(unsigned count, unsigned workers, Fn&& fn) {
    const unsigned limit = workers == 0 ? defaultWorkers() : std::min(workers, defaultWorkers());
    const unsigned runners = std::max(1u, std::min(limit, count));
    if (runners == 1) {
        for (unsigned i = 0; i < count; ++i) fn(i, 0u);
        return;
    }
    std::atomic<unsigned> next{0};
    tbb::task_group_context isolated(tbb::task_group_context::isolated);
    tbb::parallel_for(
        0u, runners,
        [&](unsigned runner) {
            try {
                for (unsigned i = next++; i < count; i = next++) fn(i, runner);
            } catch (...) {
                next = count;
                throw;
            }
        },
        tbb::simple_partitioner(), isolated);
}

// Runs first() and second() at once on the caller's task arena, in a task group isolated from
// the caller's like parallelFor's; returns once both have, rethrowing what either threw.
template <typename First, typename Second>
void parallelInvoke(First&& first, Second&& second) {
    tbb::task_group_context isolated(tbb::task_group_context::isolated);
    tbb::parallel_invoke(std::forward<First>(first), std::forward<Second>(second), isolated);
}

}  // namespace lumetra
