#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qarel::engine {

// Threads kept from batch to batch. start(T, task) has task(0) .. task(T - 1) run
// concurrently on pool threads (started when first needed) while the caller goes on;
// wait() returns once all have ended. One round at a time.
class WorkerPool {
public:
    WorkerPool() = default;
    // Lets a running round end, then stops the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void start(std::size_t workers, std::function<void(std::size_t)> task);
    // Rethrows the exception of the lowest-numbered worker that failed, after all have ended.
    void wait();

private:
    // Runs worker's share of every round after `seen` until the pool stops.
    void serve(std::size_t worker, std::uint64_t seen);
    void wait_for_workers();

    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;  // thread k serves worker k
    std::function<void(std::size_t)> task_;
    std::size_t round_workers_ = 0;
    std::uint64_t round_ = 0;
    std::size_t unfinished_ = 0;
    bool stopping_ = false;
    bool running_round_ = false;  // touched by the owning thread only
    std::vector<std::exception_ptr> failures_;
};

}  // namespace qarel::engine
