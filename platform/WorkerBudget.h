#pragma once

#include <functional>

// How many threads the current piece of work may use. The page loop gives a page more than its
// own thread when there are fewer pages than workers; the renderer and the encoders split their
// work by it (ParallelFor), and use the calling thread alone otherwise.
namespace platform {

// Threads the current thread's task may use, itself included; at least 1.
int WorkerBudget();

// Sets the budget of the current thread for the scope's life.
class ScopedWorkerBudget {
public:
    explicit ScopedWorkerBudget(int threads);
    ~ScopedWorkerBudget();
    ScopedWorkerBudget(const ScopedWorkerBudget&) = delete;
    ScopedWorkerBudget& operator=(const ScopedWorkerBudget&) = delete;

private:
    int previous_;
};

// Runs task(0) ... task(count - 1) on up to WorkerBudget() threads, the caller's among them,
// and returns when all have run. The tasks must not throw; they run with a budget of 1.
void ParallelFor(int count, const std::function<void(int)>& task);

}  // namespace platform
