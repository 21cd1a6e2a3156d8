// Performing work on the main queue and waiting for it.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/MainQueue.h"

namespace {

// A thread that runs posted tasks in order, as an event loop does; it installs the hook itself,
// so it is the main thread.
class EventLoop {
public:
    explicit EventLoop(bool dropTasks = false) : drop_(dropTasks) {
        thread_ = std::thread([this] {
            platform::SetMainQueueHook([this](platform::MainQueueTask task) {
                std::lock_guard lock(mutex_);
                if (!drop_) tasks_.push_back(std::move(task));
                wake_.notify_all();
            });
            id_ = std::this_thread::get_id();
            {
                std::lock_guard lock(mutex_);
                ready_ = true;
            }
            wake_.notify_all();
            std::unique_lock lock(mutex_);
            for (;;) {
                wake_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
                if (tasks_.empty()) break;
                platform::MainQueueTask task = std::move(tasks_.front());
                tasks_.pop_front();
                lock.unlock();
                task();
                lock.lock();
            }
        });
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return ready_; });
    }
    ~EventLoop() {
        platform::SetMainQueueHook({});
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Runs `task` on the loop and waits for it.
    void Run(platform::MainQueueTask task) {
        std::atomic<bool> done{false};
        platform::PostToMainQueue([&] {
            task();
            done = true;
        });
        while (!done) std::this_thread::yield();
    }
    std::thread::id id() const { return id_; }

private:
    bool drop_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<platform::MainQueueTask> tasks_;
    bool ready_ = false;
    bool stop_ = false;
    std::thread::id id_;
    std::thread thread_;
};

TEST(MainQueue, PerformAndWait) {
    // Without a hook: at once, on the caller's thread.
    std::thread::id ranOn;
    platform::PerformOnMainQueueAndWait([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    EventLoop loop;
    // From another thread: on the main thread, done when the call returns.
    int value = 0;
    platform::PerformOnMainQueueAndWait([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ranOn = std::this_thread::get_id();
        value = 1;
    });
    EXPECT_EQ(ranOn, loop.id());
    EXPECT_EQ(value, 1);

    // From the main thread itself: at once, without waiting on itself.
    bool nested = false;
    loop.Run([&] { platform::PerformOnMainQueueAndWait([&] { nested = std::this_thread::get_id() == loop.id(); }); });
    EXPECT_TRUE(nested);
}

TEST(MainQueue, AWaitEndsWhenTheLoopDropsTheTask) {
    EventLoop loop(true);
    bool ran = false;
    platform::PerformOnMainQueueAndWait([&] { ran = true; });
    EXPECT_FALSE(ran);
}

}  // namespace
