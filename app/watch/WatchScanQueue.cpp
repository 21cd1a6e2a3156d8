#include "watch/WatchScanQueue.h"

namespace watch {

WatchScanQueue& WatchScanQueue::Shared() {
    // A function-local static is made exactly once, also when two threads ask at the same time.
    static WatchScanQueue queue;
    return queue;
}

WatchScanQueue::WatchScanQueue() : worker_([this] { Run(); }) {}

WatchScanQueue::~WatchScanQueue() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void WatchScanQueue::Add(std::function<void()> operation) {
    {
        std::lock_guard lock(mutex_);
        operations_.push_back(std::move(operation));
    }
    changed_.notify_all();
}

void WatchScanQueue::WaitUntilIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !running_ && operations_.empty(); });
}

void WatchScanQueue::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return ending_ || !operations_.empty(); });
        // Whatever is queued still runs before the queue ends.
        if (operations_.empty()) return;
        std::function<void()> operation = std::move(operations_.front());
        operations_.pop_front();
        running_ = true;
        lock.unlock();
        operation();
        operation = nullptr;
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}

}  // namespace watch
