#include "decoder/engine/worker_pool.hpp"

namespace qarel::engine {

WorkerPool::~WorkerPool() {
    if (running_round_) wait_for_workers();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void WorkerPool::serve(std::size_t worker, std::uint64_t seen) {
    while (true) {
        std::unique_lock lock(mutex_);
        start_.wait(lock, [&] { return stopping_ || round_ != seen; });
        if (stopping_) return;
        seen = round_;
        if (worker >= round_workers_) continue;
        lock.unlock();
        std::exception_ptr failure;
        try {
            task_(worker);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        failures_[worker] = failure;
        if (--unfinished_ == 0) done_.notify_one();
    }
}

void WorkerPool::start(std::size_t workers, std::function<void(std::size_t)> task) {
    if (running_round_) wait();
    // Threads are started outside a round, so a failed start leaves no round half begun. Only
    // this thread changes the round, so a new thread starts from the current one.
    while (threads_.size() < workers) {
        const std::size_t worker = threads_.size();
        threads_.emplace_back([this, worker, round = round_] { serve(worker, round); });
    }
    {
        std::lock_guard lock(mutex_);
        task_ = std::move(task);
        round_workers_ = workers;
        unfinished_ = workers;
        failures_.assign(workers, nullptr);
        ++round_;
    }
    running_round_ = workers != 0;
    start_.notify_all();
}

void WorkerPool::wait_for_workers() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return unfinished_ == 0; });
    running_round_ = false;
}

void WorkerPool::wait() {
    if (!running_round_) return;
    wait_for_workers();
    for (const auto& failure : failures_)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace qarel::engine
