#include <gtest/gtest.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/task_arena.h>

#include <atomic>
#include <future>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/ParallelInOrder.h"
#include "image/Parallel.h"

namespace lumetra {
namespace {

// The tests that make one task wait for another need two threads whatever the machine has.
constexpr int kTwoThreads = 2;

template <typename Run>
void inArenaOfTwo(Run run) {
    const tbb::global_control allowTwo(tbb::global_control::max_allowed_parallelism, kTwoThreads);
    tbb::task_arena arena(kTwoThreads);
    arena.execute(run);
}

struct Record {
    std::vector<std::size_t> ready;
    std::vector<std::size_t> progress;
};

std::vector<std::size_t> upTo(std::size_t first, std::size_t last) {
    std::vector<std::size_t> values(last - first + 1);
    std::iota(values.begin(), values.end(), first);
    return values;
}

class ParallelInOrder : public ::testing::TestWithParam<unsigned> {};

// Counts: one, fewer tasks than jobs, and many more.
TEST_P(ParallelInOrder, ReportsEveryTaskOnceInIndexOrderAndCountsTheReported) {
    const unsigned jobs = GetParam();
    for (std::size_t count : {1u, 2u, 3u, 57u}) {
        // Task i stores i * i in its slot; the report checks the slot is visible.
        std::vector<std::size_t> slots(count, 0);
        std::vector<std::atomic<int>> runs(count);
        Record record;
        runInOrder(count, jobs,
                   {[&](std::size_t i) {
                        ++runs[i];
                        slots[i] = i * i;
                    },
                    [&](std::size_t i) {
                        EXPECT_EQ(slots[i], i * i) << "task " << i << " not visible when reported";
                        record.ready.push_back(i);
                    },
                    [&](std::size_t done) { record.progress.push_back(done); }});

        EXPECT_EQ(record.ready, upTo(0, count - 1)) << "jobs " << jobs;
        EXPECT_EQ(record.progress, upTo(1, count)) << "jobs " << jobs;
        for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << "task " << i;
    }
}

// One job, two (the machine's cores), and more jobs than most counts.
INSTANTIATE_TEST_SUITE_P(Jobs, ParallelInOrder, ::testing::Values(1u, 2u, 8u));

TEST(ParallelInOrderOrdering, AnEmptyRunCallsNothing) {
    const auto unexpected = [](std::size_t i) { ADD_FAILURE() << "called with " << i; };
    runInOrder(0, 4, {unexpected, unexpected, unexpected});
}

TEST(ParallelInOrderOrdering, LaterTaskFinishingFirstIsHeldBack) {
    // Task 0 cannot finish before task 1 has; the report must still be 0 then 1.
    std::promise<void> secondDone;
    const std::shared_future<void> secondDoneFuture = secondDone.get_future().share();
    std::vector<std::size_t> finishOrder;
    std::mutex finishMutex;
    Record record;
    inArenaOfTwo([&] {
        runInOrder(2, 2,
                   {[&](std::size_t i) {
                        if (i == 0) secondDoneFuture.wait();
                        {
                            const std::lock_guard lock(finishMutex);
                            finishOrder.push_back(i);
                        }
                        if (i == 1) secondDone.set_value();
                    },
                    [&](std::size_t i) { record.ready.push_back(i); },
                    [&](std::size_t done) { record.progress.push_back(done); }});
    });
    EXPECT_EQ(finishOrder, (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(record.ready, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(record.progress, (std::vector<std::size_t>{1, 2}));
}

TEST(ParallelInOrderOrdering, OneJobFinishesAndReportsEachTaskBeforeHandingOutTheNext) {
    std::vector<std::string> events;  // never written by two threads at once with one job
    inArenaOfTwo([&] {
        runInOrder(3, 1,
                   {[&](std::size_t i) { events.push_back("work " + std::to_string(i)); },
                    [&](std::size_t i) { events.push_back("ready " + std::to_string(i)); },
                    {}});
    });
    EXPECT_EQ(events, (std::vector<std::string>{"work 0", "ready 0", "work 1", "ready 1", "work 2",
                                                "ready 2"}));
}

TEST(ParallelInOrderFailure, TasksFinishedBeforeAFailedOneAreReportedThenItsExceptionLeaves) {
    // Task 1 throws while task 0 is still running: task 0 is reported when it finishes, and
    // only then does task 1's exception reach the caller.  Nothing after task 1 is reported.
    std::promise<void> secondThrowing;
    const std::shared_future<void> secondThrowingFuture = secondThrowing.get_future().share();
    Record record;
    std::string message;
    inArenaOfTwo([&] {
        try {
            runInOrder(4, 2,
                       {[&](std::size_t i) {
                            if (i == 0) secondThrowingFuture.wait();
                            if (i == 1) {
                                secondThrowing.set_value();
                                throw std::runtime_error("task 1 failed");
                            }
                        },
                        [&](std::size_t i) { record.ready.push_back(i); },
                        [&](std::size_t done) { record.progress.push_back(done); }});
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
    });
    EXPECT_EQ(message, "task 1 failed");
    EXPECT_EQ(record.ready, std::vector<std::size_t>{0});
    EXPECT_EQ(record.progress, std::vector<std::size_t>{1});
}

TEST(ParallelInOrderFailure, AFailedTaskStopsTheHandOut) {
    constexpr std::size_t kCount = 100;
    constexpr std::size_t kFailing = 3;
    std::vector<std::size_t> started;  // one job: never written by two threads at once
    std::vector<std::size_t> ready;
    EXPECT_THROW(runInOrder(kCount, 1,
                            {[&](std::size_t i) {
                                 started.push_back(i);
                                 if (i == kFailing) throw std::runtime_error("task failed");
                             },
                             [&](std::size_t i) { ready.push_back(i); },
                             {}}),
                 std::runtime_error);
    EXPECT_EQ(started, upTo(0, kFailing));
    EXPECT_EQ(ready, upTo(0, kFailing - 1));
}

TEST(ParallelInOrderFailure, AnExceptionFromAReportEndsTheRun) {
    std::vector<std::size_t> ready;
    EXPECT_THROW(runInOrder(50, 2,
                            {[](std::size_t) {},
                             [&](std::size_t i) {
                                 if (i == 1) throw std::logic_error("report failed");
                                 ready.push_back(i);
                             },
                             {}}),
                 std::logic_error);
    EXPECT_EQ(ready, std::vector<std::size_t>{0});
}

// The command line's crash when its rows could not be written: the failing report cancelled
// the pipeline, the cancellation reached the parallel loops of the files still being scored,
// their remaining iterations were skipped, and the scoring went on with planes never made.
// A failing report, a failed task's or its own, must leave the tasks in flight whole.
TEST(ParallelInOrderFailure, TasksInFlightWhenTheRunFailsFinishTheirParallelWork) {
    constexpr unsigned kInnerIterations = 64;
    for (const bool reportThrows : {true, false}) {
        std::promise<void> failing;
        const std::shared_future<void> failingFuture = failing.get_future().share();
        std::atomic<unsigned> innerRuns{0};
        std::atomic<unsigned> started{0};
        inArenaOfTwo([&] {
            EXPECT_THROW(runInOrder(2, 2,
                                    {[&](std::size_t i) {
                                         ++started;
                                         if (i == 0 && !reportThrows) {
                                             failing.set_value();
                                             throw std::runtime_error("task 0 failed");
                                         }
                                         if (i == 1) {
                                             // Task 1 starts its loop only once task 0 has failed
                                             // or been reported, so the failure comes while it is
                                             // in flight.
                                             failingFuture.wait();
                                             parallelFor(kInnerIterations, 0,
                                                         [&](unsigned, unsigned) { ++innerRuns; });
                                         }
                                     },
                                     [&](std::size_t i) {
                                         if (i == 0) {
                                             failing.set_value();
                                             throw std::runtime_error("report failed");
                                         }
                                     },
                                     {}}),
                         std::runtime_error);
        });
        if (started.load() == 2) {
            EXPECT_EQ(innerRuns.load(), kInnerIterations)
                << (reportThrows ? "report" : "task") << " failure cut a task in flight short";
        }
    }
}

// A loop run inside a task group that is already cancelled still runs every iteration.
TEST(ParallelFor, RunsEveryIterationWhenTheCallersGroupIsCancelled) {
    constexpr unsigned kIterations = 64;
    inArenaOfTwo([&] {
        std::atomic<unsigned> loopRuns{0};
        std::atomic<unsigned> invokeRuns{0};
        tbb::task_group_context caller;
        tbb::parallel_for(
            0, 1,
            [&](int) {
                caller.cancel_group_execution();
                parallelFor(kIterations, 0, [&](unsigned, unsigned) { ++loopRuns; });
                parallelInvoke([&] { ++invokeRuns; }, [&] { ++invokeRuns; });
            },
            caller);
        EXPECT_EQ(loopRuns.load(), kIterations);
        EXPECT_EQ(invokeRuns.load(), 2u);
    });
}

}  // namespace
}  // namespace lumetra
