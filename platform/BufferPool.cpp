#include "platform/BufferPool.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {
namespace {

struct Free {
    std::uint8_t* data;
    std::size_t capacity;
};

struct Pool {
    std::mutex mutex;
    std::vector<Free> free;
    std::size_t kept = 0;
};

// Never destroyed: buffers may come back while the program exits.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

void Return(std::uint8_t* data, std::size_t capacity) {
    Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        if (pool.kept + capacity <= kBufferPoolLimit) {
            try {
                pool.free.push_back({data, capacity});
                pool.kept += capacity;
                return;
            } catch (...) {
            }
        }
    }
    std::free(data);
}

}  // namespace

std::shared_ptr<std::uint8_t> AcquireBuffer(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        // The smallest kept buffer that fits and is not much larger than asked.
        std::size_t best = pool.free.size();
        for (std::size_t i = 0; i < pool.free.size(); ++i) {
            const std::size_t c = pool.free[i].capacity;
            if (c >= bytes && c <= bytes + bytes / 2 && (best == pool.free.size() || c < pool.free[best].capacity)) best = i;
        }
        if (best != pool.free.size()) {
            data = pool.free[best].data;
            capacity = pool.free[best].capacity;
            pool.kept -= capacity;
            pool.free[best] = pool.free.back();
            pool.free.pop_back();
        }
    }
    if (!data) {
        data = static_cast<std::uint8_t*>(std::malloc(bytes));
        if (!data) return {};
        capacity = bytes;
    }
    try {
        return std::shared_ptr<std::uint8_t>(data, [capacity](std::uint8_t* p) { Return(p, capacity); });
    } catch (...) {
        std::free(data);
        return {};
    }
}

void TrimBufferPool() {
    Pool& pool = ThePool();
    std::vector<Free> freed;
    {
        std::lock_guard lock(pool.mutex);
        freed.swap(pool.free);
        pool.kept = 0;
    }
    for (const Free& f : freed) std::free(f.data);
}

}  // namespace platform
