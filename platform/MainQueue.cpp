#include "platform/MainQueue.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {

class SerialQueue {
public:
    ~SerialQueue() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void Post(MainQueueTask task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            // Without a thread to be had the task waits for a later post to start one.
            if (!thread_.joinable()) {
                try {
                    thread_ = std::thread([this] { Run(); });
                } catch (...) {
                }
            }
        }
        wake_.notify_all();
    }

    void Drain() {
        std::unique_lock lock(mutex_);
        // Tasks that found no thread run here.
        while (!thread_.joinable() && !tasks_.empty()) {
            MainQueueTask task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
        idle_.wait(lock, [this] { return tasks_.empty() && !running_; });
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            MainQueueTask task = std::move(tasks_.front());
            tasks_.pop_front();
            running_ = true;
            lock.unlock();
            task();
            lock.lock();
            running_ = false;
            if (tasks_.empty()) idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<MainQueueTask> tasks_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

std::mutex gHookMutex;
MainQueueHook gHook;
std::thread::id gMainThread;

SerialQueue& DefaultQueue() {
    static SerialQueue queue;
    return queue;
}

}  // namespace

void SetMainQueueHook(MainQueueHook hook) {
    std::lock_guard lock(gHookMutex);
    gHook = std::move(hook);
    gMainThread = gHook ? std::this_thread::get_id() : std::thread::id{};
}

void PostToMainQueue(MainQueueTask task) {
    MainQueueHook hook;
    {
        std::lock_guard lock(gHookMutex);
        hook = gHook;
    }
    if (hook)
        hook(std::move(task));
    else
        DefaultQueue().Post(std::move(task));
}

void PerformOnMainQueueAndWait(const MainQueueTask& task) {
    MainQueueHook hook;
    {
        std::lock_guard lock(gHookMutex);
        if (gHook && gMainThread != std::this_thread::get_id()) hook = gHook;
    }
    if (!hook) {
        task();
        return;
    }
    // The waiter is released when the task has run, or when the hook drops it unrun (an event
    // loop that is gone): the last copy of the posted task signals as it is destroyed.
    struct Waiter {
        std::mutex mutex;
        std::condition_variable signal;
        bool done = false;
        void Release() {
            std::lock_guard lock(mutex);
            done = true;
            signal.notify_all();
        }
    };
    struct Release {
        std::shared_ptr<Waiter> waiter;
        ~Release() { waiter->Release(); }
    };
    auto waiter = std::make_shared<Waiter>();
    auto release = std::make_shared<Release>();
    release->waiter = waiter;
    hook([&task, release] {
        task();
        release->waiter->Release();
    });
    release.reset();
    std::unique_lock lock(waiter->mutex);
    waiter->signal.wait(lock, [&] { return waiter->done; });
}

void DrainDefaultMainQueue() { DefaultQueue().Drain(); }

}  // namespace platform
