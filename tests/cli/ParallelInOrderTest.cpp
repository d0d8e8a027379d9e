#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "cli/ParallelInOrder.h"

namespace lumetra {
namespace {

struct Record {
    std::vector<std::size_t> ready;
    std::vector<std::size_t> progress;
};

// Task i stores i * i in its slot; the report checks the slot was seen.
Record runSquares(std::size_t count, unsigned jobs, std::vector<std::size_t>& slots,
                  std::vector<std::atomic<int>>& runs) {
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
    return record;
}

class ParallelInOrder : public ::testing::TestWithParam<unsigned> {};

// Counts: none, one, fewer tasks than threads, and many more.
TEST_P(ParallelInOrder, ReportsEveryTaskOnceInIndexOrder) {
    const unsigned jobs = GetParam();
    for (std::size_t count : {0u, 1u, 2u, 3u, 57u}) {
        std::vector<std::size_t> slots(count, 0);
        std::vector<std::atomic<int>> runs(count);
        const Record record = runSquares(count, jobs, slots, runs);

        ASSERT_EQ(record.ready.size(), count) << "jobs " << jobs;
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(record.ready[i], i);
            EXPECT_EQ(runs[i].load(), 1) << "task " << i;
        }
        // Progress only grows and ends at the count.
        for (std::size_t k = 1; k < record.progress.size(); ++k) {
            EXPECT_LT(record.progress[k - 1], record.progress[k]);
        }
        if (count > 0) {
            ASSERT_FALSE(record.progress.empty());
            EXPECT_EQ(record.progress.back(), count);
        }
    }
}

// One thread, two (the machine's cores), and more threads than most counts.
INSTANTIATE_TEST_SUITE_P(Jobs, ParallelInOrder, ::testing::Values(1u, 2u, 8u));

TEST(ParallelInOrderOrdering, LaterTaskFinishingFirstIsHeldBack) {
    // Task 0 cannot finish before task 1 has: with two threads they run at once, and the
    // report must still be 0 then 1.
    std::promise<void> secondDone;
    std::shared_future<void> secondDoneFuture = secondDone.get_future().share();
    std::vector<std::size_t> ready;
    std::vector<std::size_t> finishOrder;
    std::mutex finishMutex;
    runInOrder(2, 2,
               {[&](std::size_t i) {
                    if (i == 0) secondDoneFuture.wait();
                    {
                        const std::lock_guard lock(finishMutex);
                        finishOrder.push_back(i);
                    }
                    if (i == 1) secondDone.set_value();
                },
                [&](std::size_t i) { ready.push_back(i); },
                {}});
    EXPECT_EQ(finishOrder, (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(ready, (std::vector<std::size_t>{0, 1}));
}

TEST(ParallelInOrderFailure, ExceptionFromATaskReachesTheCallerAndStopsTheHandOut) {
    constexpr std::size_t kCount = 100;
    constexpr std::size_t kFailing = 3;
    std::atomic<std::size_t> started{0};
    std::vector<std::size_t> ready;
    EXPECT_THROW(runInOrder(kCount, 1,
                            {[&](std::size_t i) {
                                 ++started;
                                 if (i == kFailing) throw std::runtime_error("task failed");
                             },
                             [&](std::size_t i) { ready.push_back(i); },
                             {}}),
                 std::runtime_error);
    // One thread takes the tasks in order: nothing after the failing one starts, and the
    // failing one is never reported.
    EXPECT_EQ(started.load(), kFailing + 1);
    for (std::size_t i : ready) EXPECT_LT(i, kFailing);
}

TEST(ParallelInOrderFailure, ExceptionFromAReportEndsTheRun) {
    // The workers are still running when the report throws; leaving them unjoined would end
    // the process, so reaching the EXPECT at all shows they were stopped and joined.
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

}  // namespace
}  // namespace lumetra
