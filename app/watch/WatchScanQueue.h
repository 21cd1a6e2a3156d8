#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace watch {

// The one serial queue that every watch scan of the process runs on: one operation at a time,
// in the order they were added, on a thread of its own. It comes into being at its first use,
// once, whichever threads reach it together, and lasts until the process ends, so scans of a
// watch that was stopped and one started after it never overlap.
class WatchScanQueue {
public:
    static WatchScanQueue& Shared();

    void Add(std::function<void()> operation);
    // Waits until nothing runs and nothing is queued.
    void WaitUntilIdle();

    WatchScanQueue(const WatchScanQueue&) = delete;
    WatchScanQueue& operator=(const WatchScanQueue&) = delete;

private:
    WatchScanQueue();
    ~WatchScanQueue();
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> operations_;
    bool running_ = false;
    bool ending_ = false;
    std::thread worker_;
};

}  // namespace watch
