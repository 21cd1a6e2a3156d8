#include "engine/OperationQueue.h"

#include <algorithm>

OperationQueue::OperationQueue(int maxConcurrentOperations) : max_(std::max(1, maxConcurrentOperations)) {
    // Room for every thread: adding one never throws with a thread in hand.
    threads_.reserve(static_cast<std::size_t>(max_));
}

OperationQueue::~OperationQueue() {
    WaitUntilAllOperationsAreFinished();
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        toStart_ = 0;
        // Threads being started are joined with the others.
        started_.wait(lock, [this] { return starting_ == 0; });
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void OperationQueue::AddOperation(std::function<void()> operation) {
    {
        std::unique_lock lock(mutex_);
        // A new thread only when every one there is busy.
        const std::size_t busy = static_cast<std::size_t>(running_) + operations_.size() + 1;
        const std::size_t threads = threads_.size() + static_cast<std::size_t>(toStart_ + starting_);
        if (threads < static_cast<std::size_t>(max_) && busy > threads) {
            try {
                threads_.emplace_back([this] { Run(); });
            } catch (...) {
                // No thread to be had (the process limit, say). The threads there are take the
                // operation in their turn; without any, it runs here and now.
                if (threads_.empty()) {
                    lock.unlock();
                    try {
                        operation();
                    } catch (...) {
                    }
                    return;
                }
            }
        }
        operations_.push_back(std::move(operation));
    }
    work_.notify_one();
}

void OperationQueue::StartThreads(int threads) {
    std::lock_guard lock(mutex_);
    const int have = static_cast<int>(threads_.size()) + toStart_ + starting_;
    const int wanted = std::clamp(threads, 0, max_);
    if (wanted <= have) return;
    toStart_ += wanted - have;
    if (threads_.empty()) {
        try {
            threads_.emplace_back([this] { Run(); });
            --toStart_;
        } catch (...) {
            toStart_ = 0;  // no thread to be had: operations start them, or run here
        }
    }
}

void OperationQueue::WaitUntilAllOperationsAreFinished() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return operations_.empty() && running_ == 0; });
}

void OperationQueue::Run() {
    std::unique_lock lock(mutex_);
    // Threads asked for ahead of the work: started here, outside the lock.
    while (toStart_ > 0 && !stopping_) {
        --toStart_;
        ++starting_;
        lock.unlock();
        std::thread thread;
        try {
            thread = std::thread([this] { Run(); });
        } catch (...) {
        }
        lock.lock();
        --starting_;
        if (thread.joinable()) {
            threads_.push_back(std::move(thread));  // room reserved
        } else {
            toStart_ = 0;
        }
        started_.notify_all();
    }
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !operations_.empty(); });
        if (operations_.empty()) return;
        std::function<void()> operation = std::move(operations_.front());
        operations_.pop_front();
        ++running_;
        lock.unlock();
        try {
            operation();
        } catch (...) {
            // Operations report their own failures; one that throws must not end the thread.
        }
        operation = nullptr;  // its captures go with the page, not with the next one
        lock.lock();
        --running_;
        if (operations_.empty() && running_ == 0) idle_.notify_all();
    }
}

int PageQueueWidth(unsigned processors) { return processors > 2 ? static_cast<int>(processors) - 1 : 1; }
