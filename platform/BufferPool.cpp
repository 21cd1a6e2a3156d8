#include "platform/BufferPool.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/LargeAllocations.h"

namespace platform {
namespace {

// Buffers from this size on are mapped on their own, sized in whole huge pages (so that pages of
// nearly one size share them) but in ordinary pages: a fresh huge page costs more to write first
// than its 512 ordinary ones on some machines, and the pool's buffers are each written fresh only
// once. On a virtual machine that hands freed memory back to its host, a fresh huge page was
// first written at 0.3 to 0.8 GB/s, an ordinary one at 1.8 to 2.5 GB/s: with huge pages, 40
// pages at 600 dpi took 1.12 s instead of 0.86 s (medians, the two alternating), 3.4 s of it
// the kernel's instead of 0.95 s; one page at 300 dpi 0.13 to 0.18 s instead of 0.09 to 0.11 s
// when the host had to supply the memory; 72 dpi's 2 MiB buffers doubled the system time. Only
// right after another conversion of ours had freed its huge pages were they faster (600 dpi
// 0.62 s).
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

struct Free {
    std::uint8_t* data;
    std::size_t capacity;
};

struct Pool {
    std::mutex mutex;
    std::vector<Free> free;
    std::size_t kept = 0;     // bytes of the free buffers
    std::size_t inUse = 0;    // bytes of the buffers handed out
    std::size_t peak = 0;     // the most handed out at once since the last trim
    // What the pool may hold, free and handed out together: the idle limit, or the most that
    // was in use at once when that is more. Keeping a worker's buffers for its next page then
    // never makes the process larger than its busiest moment.
    std::size_t Cap() const { return std::max(kBufferPoolLimit, peak); }
};

// Never destroyed: buffers may come back while the program exits.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

std::uint8_t* Allocate(std::size_t capacity) {
    if (capacity < kMappedFrom) return static_cast<std::uint8_t*>(std::malloc(capacity));
    // Mapped a huge page larger and trimmed to a huge-page boundary at both ends, where the
    // kernel may still back it with huge pages of its own accord (transparent huge pages set to
    // "always").
    const std::size_t span = capacity + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::size_t tail = span - (aligned - start) - capacity;
    if (tail) munmap(reinterpret_cast<void*>(aligned + capacity), tail);
    return reinterpret_cast<std::uint8_t*>(aligned);
}

void Release(std::uint8_t* data, std::size_t capacity) {
    if (capacity < kMappedFrom)
        std::free(data);
    else
        munmap(data, capacity);
}

// Large buffers are sized in whole huge pages, so that pages of nearly one size share them.
std::size_t CapacityFor(std::size_t bytes) {
    return bytes < kMappedFrom ? bytes : (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void Return(std::uint8_t* data, std::size_t capacity) {
    Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        pool.inUse -= capacity;
        if (pool.kept + pool.inUse + capacity <= pool.Cap()) {
            try {
                pool.free.push_back({data, capacity});
                pool.kept += capacity;
                return;
            } catch (...) {
            }
        }
    }
    Release(data, capacity);
}

}  // namespace

std::shared_ptr<std::uint8_t> AcquireBuffer(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    std::vector<Free> dropped;
    Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        // The smallest kept buffer that fits and is at most twice as large as a new one would be
        // (pages of A4 and A3 share buffers, and so do a page and its halves; a small scratch
        // buffer does not tie up a page's).
        const std::size_t wanted = CapacityFor(bytes);
        std::size_t best = pool.free.size();
        for (std::size_t i = 0; i < pool.free.size(); ++i) {
            const std::size_t c = pool.free[i].capacity;
            if (c >= bytes && c / 2 <= wanted && (best == pool.free.size() || c < pool.free[best].capacity)) best = i;
        }
        if (best != pool.free.size()) {
            data = pool.free[best].data;
            capacity = pool.free[best].capacity;
            pool.kept -= capacity;
            pool.free[best] = pool.free.back();
            pool.free.pop_back();
        } else {
            capacity = CapacityFor(bytes);
            // Room for the new buffer: kept buffers of other sizes go first, the largest first.
            std::sort(pool.free.begin(), pool.free.end(),
                      [](const Free& a, const Free& b) { return a.capacity < b.capacity; });
            while (!pool.free.empty() && pool.kept + pool.inUse + capacity > pool.Cap()) {
                dropped.push_back(pool.free.back());
                pool.kept -= pool.free.back().capacity;
                pool.free.pop_back();
            }
        }
        pool.inUse += capacity;
        pool.peak = std::max(pool.peak, pool.inUse);
    }
    for (const Free& f : dropped) Release(f.data, f.capacity);
    if (!data) data = Allocate(capacity);
    if (!data) {
        std::lock_guard lock(pool.mutex);
        pool.inUse -= capacity;
        return {};
    }
    try {
        return std::shared_ptr<std::uint8_t>(data, [capacity](std::uint8_t* p) { Return(p, capacity); });
    } catch (...) {
        Return(data, capacity);
        return {};
    }
}

void LimitHeaps(int heaps) {
    const int processors = static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
    mallopt(M_ARENA_MAX, heaps > 0 ? std::min(heaps, processors) : processors);
    // The readers' working memory (display lists, shading tables, group pixmaps, encoded
    // pages) comes and goes by the megabyte on every page. Left to its defaults glibc maps each
    // such block afresh and hands the top of a heap back as soon as it is free, so every page
    // faults its memory in again, page by page, and the workers queue on the kernel's lock of
    // the address space. Blocks up to 32 MiB come from the heaps and stay there for the next
    // page (the most glibc's own adjustment would reach); larger ones are still mapped each.
    // A heap also grows in steps of 8 MiB rather than 128 KiB: each step changes the address
    // space under that same lock (some 1500 times a document at 72 dpi), and what a step adds
    // takes no memory until it is used. Fewer heaps keep the defaults: their memory is shared
    // by threads that need it at different times.
    mallopt(M_MMAP_THRESHOLD, heaps > 0 ? 128 * 1024 : 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, heaps > 0 ? 128 * 1024 : 64 * 1024 * 1024);
    mallopt(M_TOP_PAD, heaps > 0 ? 128 * 1024 : 8 * 1024 * 1024);
}

void TrimBufferPool() {
    Pool& pool = ThePool();
    std::vector<Free> freed;
    {
        std::lock_guard lock(pool.mutex);
        freed.swap(pool.free);
        pool.kept = 0;
        pool.peak = pool.inUse;
    }
    if (freed.empty()) return;
    std::shared_ptr<std::vector<Free>> held;
    try {
        held = std::make_shared<std::vector<Free>>(std::move(freed));
        ReleaseInBackground([held] {
            for (const Free& f : *held) Release(f.data, f.capacity);
        });
        return;
    } catch (...) {
        // No memory to hand them over: they go here.
    }
    for (const Free& f : held ? *held : freed) Release(f.data, f.capacity);
}

namespace {

struct Releaser {
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable done;  // no job left, none running
    std::deque<std::function<void()>> jobs;
    bool started = false;
    bool busy = false;
};

// Never destroyed: its thread may still be giving memory back while the program exits. A child
// made by fork has no releasing thread, whatever the parent had: it starts with a releaser of
// its own (the parent's jobs stay the parent's).
Releaser*& ReleaserSlot();
void NewReleaserInChild() { ReleaserSlot() = new Releaser; }
Releaser*& ReleaserSlot() {
    static Releaser* releaser = [] {
        pthread_atfork(nullptr, nullptr, NewReleaserInChild);
        return new Releaser;
    }();
    return releaser;
}
Releaser& TheReleaser() { return *ReleaserSlot(); }

void RunReleaser(Releaser& r) {
    std::unique_lock lock(r.mutex);
    for (;;) {
        r.work.wait(lock, [&r] { return !r.jobs.empty(); });
        std::function<void()> job = std::move(r.jobs.front());
        r.jobs.pop_front();
        r.busy = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
            // Memory that could not be given back stays; the thread goes on.
        }
        job = nullptr;  // what it holds goes here too
        lock.lock();
        r.busy = false;
        if (r.jobs.empty()) r.done.notify_all();
    }
}

// At exit, the jobs given finish first (for a second at most): the libraries whose memory they
// give back may tear down their own state meanwhile.
void FinishReleasing() { WaitForBackgroundRelease(std::chrono::seconds(1)); }

}  // namespace

void WaitForBackgroundRelease(std::chrono::milliseconds limit) {
    Releaser& r = TheReleaser();
    std::unique_lock lock(r.mutex);
    if (!r.started) return;
    r.done.wait_for(lock, limit, [&r] { return r.jobs.empty() && !r.busy; });
}

void ReleaseInBackground(std::function<void()> job) {
    if (!job) return;
    Releaser& r = TheReleaser();
    {
        std::unique_lock lock(r.mutex);
        bool queued = false;
        try {
            if (!r.started) {
                std::thread([&r] { RunReleaser(r); }).detach();
                r.started = true;
                std::atexit(FinishReleasing);
            }
            r.jobs.push_back(job);
            queued = true;
        } catch (...) {
        }
        if (!queued) {
            lock.unlock();
            job();
            return;
        }
    }
    r.work.notify_one();
}

}  // namespace platform
