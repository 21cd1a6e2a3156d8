#include "engine/OperationQueue.h"

#include <algorithm>

OperationQueue::OperationQueue(int maxConcurrentOperations)
    : max_(std::max(1, maxConcurrentOperations)), state_(std::make_shared<State>()) {}

OperationQueue::~OperationQueue() {
    WaitUntilAllOperationsAreFinished();
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->toStart = 0;
    }
    state_->work.notify_all();
}

bool OperationQueue::Launch(const std::shared_ptr<State>& state) {
    try {
        std::thread([state] { Run(state); }).detach();
        return true;
    } catch (...) {
        return false;
    }
}

void OperationQueue::AddOperation(std::function<void()> operation) {
    State& s = *state_;
    {
        std::unique_lock lock(s.mutex);
        // A new thread only when every one there is busy.
        const int busy = s.running + static_cast<int>(s.operations.size()) + 1;
        const int threads = s.threads + s.toStart + s.starting;
        if (threads < max_ && busy > threads) {
            if (Launch(state_)) {
                ++s.threads;
            } else if (s.threads == 0) {
                // No thread to be had (the process limit, say). The threads there are take the
                // operation in their turn; without any, it runs here and now.
                lock.unlock();
                try {
                    operation();
                } catch (...) {
                }
                return;
            }
        }
        s.operations.push_back(std::move(operation));
    }
    s.work.notify_one();
}

void OperationQueue::StartThreads(int threads) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    const int have = s.threads + s.toStart + s.starting;
    const int wanted = std::clamp(threads, 0, max_);
    if (wanted <= have) return;
    s.toStart += wanted - have;
    if (s.threads == 0) {
        if (Launch(state_)) {
            ++s.threads;
            --s.toStart;
        } else {
            s.toStart = 0;  // no thread to be had: operations start them, or run here
        }
    }
}

void OperationQueue::WaitUntilAllOperationsAreFinished() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.idle.wait(lock, [&s] { return s.operations.empty() && s.running == 0; });
}

void OperationQueue::Run(const std::shared_ptr<State>& state) {
    State& s = *state;
    std::unique_lock lock(s.mutex);
    // Threads asked for ahead of the work: started here, outside the lock.
    while (s.toStart > 0 && !s.stopping) {
        --s.toStart;
        ++s.starting;
        lock.unlock();
        const bool launched = Launch(state);
        lock.lock();
        --s.starting;
        if (launched) {
            ++s.threads;
        } else {
            s.toStart = 0;
        }
    }
    for (;;) {
        s.work.wait(lock, [&s] { return s.stopping || !s.operations.empty(); });
        if (s.operations.empty()) break;
        std::function<void()> operation = std::move(s.operations.front());
        s.operations.pop_front();
        ++s.running;
        lock.unlock();
        try {
            operation();
        } catch (...) {
            // Operations report their own failures; one that throws must not end the thread.
        }
        operation = nullptr;  // its captures go with the page, not with the next one
        lock.lock();
        --s.running;
        if (s.operations.empty() && s.running == 0) s.idle.notify_all();
    }
    --s.threads;
}

int PageQueueWidth(unsigned processors) { return processors > 2 ? static_cast<int>(processors) - 1 : 1; }
