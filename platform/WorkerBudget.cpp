#include "platform/WorkerBudget.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace platform {
namespace {
thread_local int tBudget = 1;
}  // namespace

int WorkerBudget() { return std::max(1, tBudget); }

ScopedWorkerBudget::ScopedWorkerBudget(int threads) : previous_(tBudget) { tBudget = std::max(1, threads); }
ScopedWorkerBudget::~ScopedWorkerBudget() { tBudget = previous_; }

void ParallelFor(int count, const std::function<void(int)>& task) {
    if (count <= 0) return;
    const int threads = std::min(WorkerBudget(), count);
    std::atomic<int> next{0};
    auto work = [&] {
        ScopedWorkerBudget one(1);
        for (int i = next++; i < count; i = next++) task(i);
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break;  // no thread to be had: fewer helpers
        }
    }
    work();
    for (std::thread& h : helpers) h.join();
}

}  // namespace platform
