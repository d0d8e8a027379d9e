#pragma once

// A minimal parallel loop: indices 0 .. count-1 shared out to `workers` threads (the calling
// thread is one of them).  fn(index, worker) must be safe to run concurrently for different
// indices; worker (0 .. workers-1) lets each thread use its own scratch space.

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace lumetra {

// Threads to use when the caller asks for 0: every core the machine reports.
inline unsigned defaultWorkers() {
    return std::max(1u, std::thread::hardware_concurrency());
}

template <typename Fn>
void parallelFor(unsigned count, unsigned workers, Fn&& fn) {
    workers = std::max(1u, std::min(workers, count));
    if (workers == 1) {
        for (unsigned i = 0; i < count; ++i) fn(i, 0u);
        return;
    }
    std::atomic<unsigned> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto work = [&](unsigned worker) {
        try {
            for (unsigned i = next++; i < count; i = next++) fn(i, worker);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureMutex);
            if (!failure) failure = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(workers - 1);
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work, w);
    work(0);
    for (std::thread& t : threads) t.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace lumetra
