#include "cli/ParallelInOrder.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace lumetra {

namespace {

// What the workers and the reporting thread share, guarded by one mutex.
struct SharedState {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;        // the next task to hand out
    std::vector<char> finished;  // per task: 1 once its work returned
    std::size_t finishedCount = 0;
    bool stop = false;           // no more tasks are handed out
    std::exception_ptr failure;  // the first exception a task threw
};

void workLoop(SharedState& state, std::size_t count, const std::function<void(std::size_t)>& work) {
    for (;;) {
        std::size_t index = 0;
        {
            const std::lock_guard lock(state.mutex);
            if (state.stop || state.next >= count) return;
            index = state.next++;
        }
        try {
            work(index);
        } catch (...) {
            const std::lock_guard lock(state.mutex);
            if (!state.failure) state.failure = std::current_exception();
            state.stop = true;
            state.changed.notify_all();
            return;
        }
        {
            const std::lock_guard lock(state.mutex);
            state.finished[index] = 1;
            ++state.finishedCount;
        }
        state.changed.notify_all();
    }
}

// Reports the finished tasks in order until all are reported or a task failed.
void reportLoop(SharedState& state, std::size_t count, const InOrderCallbacks& callbacks) {
    std::size_t reported = 0;
    std::size_t lastProgress = 0;
    std::unique_lock lock(state.mutex);
    while (reported < count) {
        state.changed.wait(lock, [&] {
            return state.failure || state.finishedCount != lastProgress ||
                   state.finished[reported] != 0;
        });
        if (state.failure) return;
        const std::size_t done = state.finishedCount;
        std::size_t readyEnd = reported;
        while (readyEnd < count && state.finished[readyEnd] != 0) ++readyEnd;

        // The callbacks run unlocked so the workers go on meanwhile.
        lock.unlock();
        if (done != lastProgress) {
            lastProgress = done;
            if (callbacks.progress) callbacks.progress(done);
        }
        for (; reported < readyEnd; ++reported) callbacks.ready(reported);
        lock.lock();
    }
}

}  // namespace

void runInOrder(std::size_t count, unsigned jobs, const InOrderCallbacks& callbacks) {
    if (count == 0) return;
    SharedState state;
    state.finished.assign(count, 0);

    const std::size_t threadCount = std::clamp<std::size_t>(jobs, 1, count);
    std::vector<std::thread> workers;
    workers.reserve(threadCount);
    const auto joinAll = [&] {
        for (std::thread& worker : workers) {
            if (worker.joinable()) worker.join();
        }
    };
    const auto stopAndJoin = [&] {
        {
            const std::lock_guard lock(state.mutex);
            state.stop = true;
        }
        joinAll();
    };

    try {
        for (std::size_t t = 0; t < threadCount; ++t) {
            workers.emplace_back(workLoop, std::ref(state), count, std::cref(callbacks.work));
        }
        reportLoop(state, count, callbacks);
    } catch (...) {
        stopAndJoin();
        throw;
    }
    joinAll();
    if (state.failure) std::rethrow_exception(state.failure);
}

}  // namespace lumetra
