#include "engine/OperationQueue.h"

#include <algorithm>

OperationQueue::OperationQueue(int maxConcurrentOperations) : max_(std::max(1, maxConcurrentOperations)) {}

OperationQueue::~OperationQueue() {
    WaitUntilAllOperationsAreFinished();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void OperationQueue::AddOperation(std::function<void()> operation) {
    {
        std::unique_lock lock(mutex_);
        // A new thread only when every one there is busy.
        const std::size_t busy = static_cast<std::size_t>(running_) + operations_.size() + 1;
        if (threads_.size() < static_cast<std::size_t>(max_) && busy > threads_.size()) {
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
    const std::size_t wanted = static_cast<std::size_t>(std::clamp(threads, 0, max_));
    while (threads_.size() < wanted) {
        try {
            threads_.emplace_back([this] { Run(); });
        } catch (...) {
            break;
        }
    }
}

void OperationQueue::WaitUntilAllOperationsAreFinished() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return operations_.empty() && running_ == 0; });
}

void OperationQueue::Run() {
    std::unique_lock lock(mutex_);
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
