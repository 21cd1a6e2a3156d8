#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A private queue of operations run by at most a given number of threads of its own, started
// as work arrives. The page loop puts one operation per page on it and waits for them all.
class OperationQueue {
public:
    explicit OperationQueue(int maxConcurrentOperations);
    ~OperationQueue();  // waits for every operation, then ends its threads
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    int MaxConcurrentOperationCount() const { return max_; }
    // Queues the operation; when no thread of the queue runs and none can be started, runs it
    // on the calling thread before returning.
    void AddOperation(std::function<void()> operation);
    void WaitUntilAllOperationsAreFinished();
    // Starts threads now, up to `threads` (and the queue's width), for work about to come: the
    // operations then find them waiting, rather than each starting one while the earlier ones
    // run. One is started here; it starts the others (and they more), so that the caller goes
    // on meanwhile. Those that cannot be had are started with operations later, as usual.
    void StartThreads(int threads);

private:
    void Run();

    const int max_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> operations_;
    int running_ = 0;
    int toStart_ = 0;   // threads asked for and not yet being started
    int starting_ = 0;  // threads being started by the queue's own threads
    std::condition_variable started_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The width of the page loop's queue on a machine with `processors` processors: one fewer,
// at least one.
int PageQueueWidth(unsigned processors);
