#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A private queue of operations run by at most a given number of threads of its own, started
// as work arrives. The page loop puts one operation per page on it and waits for them all.
class OperationQueue {
public:
    explicit OperationQueue(int maxConcurrentOperations);
    // Waits for every operation, then tells its threads to end. They end on their own: a
    // conversion that is done does not wait for each of its threads to be scheduled once more
    // (milliseconds on a busy machine) and to give back its memory.
    ~OperationQueue();
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
    // What the threads share with the queue; each thread keeps it until it has ended.
    struct State {
        std::mutex mutex;
        std::condition_variable work;
        std::condition_variable idle;
        std::deque<std::function<void()>> operations;
        int threads = 0;   // started, not yet ended
        int running = 0;
        int toStart = 0;   // threads asked for and not yet being started
        int starting = 0;  // threads being started by the queue's own threads
        bool stopping = false;
    };
    // A thread of the queue, detached; false when none could be had.
    static bool Launch(const std::shared_ptr<State>& state);
    static void Run(const std::shared_ptr<State>& state);

    const int max_;
    std::shared_ptr<State> state_;
};

// The width of the page loop's queue on a machine with `processors` processors: one fewer,
// at least one.
int PageQueueWidth(unsigned processors);
