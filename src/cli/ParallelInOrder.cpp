#include "cli/ParallelInOrder.h"

#include <oneapi/tbb/parallel_pipeline.h>

#include <algorithm>
#include <atomic>
#include <exception>

namespace lumetra {

namespace {

// One task on its way from the parallel stage to the in-order one: its index and, when its
// work threw, what it threw.
struct Outcome {
    std::size_t index = 0;
    std::exception_ptr failure;
};

// The lowest index whose work threw, shared by the stages.
class FirstFailure {
  public:
    explicit FirstFailure(std::size_t count) : _count(count), _index(count) {}

    // Keeps the lower of `index` and the failure recorded so far; a failed exchange reloads
    // `lowest` and tries again.
    void record(std::size_t index) {
        std::size_t lowest = _index.load();
        while (index < lowest && !_index.compare_exchange_weak(lowest, index)) {
        }
    }
    // True when a task before `index` failed, so that task `index` will never be reported.
    bool precedes(std::size_t index) const { return _index.load() < index; }
    bool any() const { return _index.load() < _count; }

  private:
    const std::size_t _count;
    std::atomic<std::size_t> _index;  // _count while no task has failed
};

}  // namespace

void runInOrder(std::size_t count, unsigned jobs, const InOrderCallbacks& callbacks) {
    if (count == 0) return;
    const std::size_t tokens = std::clamp<std::size_t>(jobs, 1, count);
    FirstFailure firstFailure(count);
    // Set by the in-order stage once something it reports has failed: nothing more is handed
    // out, started or reported.
    std::atomic<bool> stopped{false};
    std::exception_ptr failure;  // what ends the run; only the in-order stage touches it
    std::size_t next = 0;

    // Hands out the indices in order until all are out or a task has failed.
    const auto handOut = [&](tbb::flow_control& control) -> std::size_t {
        if (next == count || firstFailure.any() || stopped.load()) {
            control.stop();
            return 0;
        }
        return next++;
    };
    // Does one task.  Its exception travels to the in-order stage with it, so that the tasks
    // before it are still reported.
    const auto work = [&](std::size_t index) -> Outcome {
        if (firstFailure.precedes(index) || stopped.load()) return {index, nullptr};
        try {
            callbacks.work(index);
            return {index, nullptr};
        } catch (...) {
            firstFailure.record(index);
            return {index, std::current_exception()};
        }
    };
    // Reports the tasks in index order; the first failure, a task's or a report's, ends the
    // run.  No exception leaves a stage: one would cancel the pipeline's task group and with
    // it the parallel work of the tasks still running, which would then go on with what that
    // work left unmade.  The tasks in flight finish instead, and the failure is rethrown once
    // the pipeline has returned.
    const auto report = [&](const Outcome& outcome) {
        if (failure) return;
        try {
            if (outcome.failure) std::rethrow_exception(outcome.failure);
            callbacks.ready(outcome.index);
            if (callbacks.progress) callbacks.progress(outcome.index + 1);
        } catch (...) {
            failure = std::current_exception();
            stopped = true;
        }
    };

    tbb::parallel_pipeline(
        tokens, tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order, handOut) &
                    tbb::make_filter<std::size_t, Outcome>(tbb::filter_mode::parallel, work) &
                    tbb::make_filter<Outcome, void>(tbb::filter_mode::serial_in_order, report));
    if (failure) std::rethrow_exception(failure);
}

}  // namespace lumetra
