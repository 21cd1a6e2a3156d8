#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/WorkerBudget.h"

// Items 0 … count - 1 made ahead of their use by a few threads and taken in order: the caller
// takes item i once it is ready, and the threads stay at most a few items ahead of it. The
// function must not throw (a throw counts as an empty result).
template <typename Result>
class OrderedWork {
public:
    OrderedWork(int count, std::function<Result(int)> make) : make_(std::move(make)), results_(count), ready_(count) {
        const int processors = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
        const int threads = std::clamp(std::min(count, processors), 1, 8);
        lookahead_ = 2 * threads;
        const int budget = std::max(1, processors / threads);
        for (int t = 0; t < threads; ++t) threads_.emplace_back([this, budget] { Run(budget); });
    }
    ~OrderedWork() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }
    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // Item i, made; each is taken once, in order.
    Result Take(int i) {
        std::unique_lock<std::mutex> lock(mutex_);
        taken_ = i;
        changed_.notify_all();
        changed_.wait(lock, [&] { return ready_[static_cast<std::size_t>(i)]; });
        return std::move(results_[static_cast<std::size_t>(i)]);
    }

private:
    void Run(int budget) {
        platform::ScopedWorkerBudget scope(budget);
        for (;;) {
            int i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || next_ >= Count() || next_ <= taken_ + lookahead_; });
                if (stop_ || next_ >= Count()) return;
                i = next_++;
            }
            Result result{};
            try {
                result = make_(i);
            } catch (...) {
                result = Result{};
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                results_[static_cast<std::size_t>(i)] = std::move(result);
                ready_[static_cast<std::size_t>(i)] = true;
            }
            changed_.notify_all();
        }
    }
    int Count() const { return static_cast<int>(results_.size()); }

    std::function<Result(int)> make_;
    std::vector<Result> results_;
    std::vector<bool> ready_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int next_ = 0;
    int taken_ = -1;
    int lookahead_ = 2;
    bool stop_ = false;
};
