// The C allocator as the platform library's own code and its copy of libwebp call it (the link
// routes their malloc and calloc here): blocks of a few megabytes and more are asked for in huge
// pages. The lossless WebP encoder takes some 40 bytes a pixel in fresh blocks of tens of
// megabytes (its hash chain, references, histograms and scratch copies) and reads them out of
// order; in 4 KiB pages that is a page fault for every 4 KiB first written, and a TLB miss for
// most of its reads, which made a 24-megapixel encoding a fifth to a third slower. The blocks
// stay the C allocator's own, so that any free() releases them, the shared libwebp's included.
// While a PrefaultedAllocations scope is open, threads of their own fault the blocks' pages in
// ahead of their first use (the kernel then clears them on another processor, and the encoding,
// on one thread, does not wait for it).
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/LargeAllocations.h"

extern "C" {
void* __real_malloc(std::size_t bytes);
void* __real_calloc(std::size_t count, std::size_t size);
void* __wrap_malloc(std::size_t bytes);
void* __wrap_calloc(std::size_t count, std::size_t size);
}

namespace platform {

void AdviseHugePages(void* memory, std::size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    (void)memory;
    (void)bytes;
#else
    if (!memory) return;
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = (start + bytes) & ~(kHugePage - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
}

bool IsLargeAllocation(std::size_t bytes) { return bytes >= kLargeAllocation; }

namespace {

// Blocks waiting for their pages. Faulting pages in writable changes nothing in them, so the
// block's owner may use it meanwhile; a block freed before its turn costs at most some pages of
// the C allocator's free memory made resident.
struct Prefaulter {
    static constexpr int kSlots = 64;
    static constexpr int kThreads = 3;
    std::mutex lock;
    std::condition_variable wake;
    std::uintptr_t from[kSlots] = {};
    std::size_t bytes[kSlots] = {};
    int head = 0, count = 0;
    int scopes = 0;  // open PrefaultedAllocations scopes
    bool started = false;
    int threads = 0;
};

Prefaulter& ThePrefaulter() {
    static Prefaulter* prefaulter = new Prefaulter;  // never destroyed: its threads outlive main()
    return *prefaulter;
}

// A few threads take the blocks a huge page at a time, from the end of the oldest block waiting,
// away from where its owner, filling it from its start, faults pages in itself; a change of the
// address space (a block freed, a heap grown) then waits for one page at most.
[[noreturn]] void FaultPagesIn(Prefaulter* p) {
    std::unique_lock lock(p->lock);
    for (;;) {
        p->wake.wait(lock, [p] { return p->count > 0; });
        std::size_t& left = p->bytes[p->head];
        const std::size_t piece = left % kHugePage ? left % kHugePage : kHugePage;
        left -= piece;
        const std::uintptr_t at = p->from[p->head] + left;
        if (left == 0) {
            p->head = (p->head + 1) % Prefaulter::kSlots;
            --p->count;
        }
        lock.unlock();
        // An error (the block gone) leaves the rest of it to fail the same way, quickly.
        ::madvise(reinterpret_cast<void*>(at), piece, MADV_POPULATE_WRITE);
        lock.lock();
    }
}

void Prefault(void* memory, std::size_t bytes) {
    if (!memory) return;
    constexpr std::uintptr_t kPage = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t from = (start + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t to = (start + bytes) & ~(kPage - 1);
    if (to <= from) return;
    Prefaulter& p = ThePrefaulter();
    {
        std::lock_guard guard(p.lock);
        if (p.scopes == 0 || p.count == Prefaulter::kSlots) return;
        if (!p.started) {
            p.started = true;
            for (int t = 0; t < Prefaulter::kThreads; ++t) {
                try {
                    std::thread(FaultPagesIn, &p).detach();
                    ++p.threads;
                } catch (...) {
                    break;
                }
            }
        }
        if (p.threads == 0) return;
        const int slot = (p.head + p.count) % Prefaulter::kSlots;
        p.from[slot] = from;
        p.bytes[slot] = to - from;
        ++p.count;
    }
    p.wake.notify_all();
}

}  // namespace

PrefaultedAllocations::PrefaultedAllocations() {
    Prefaulter& p = ThePrefaulter();
    std::lock_guard guard(p.lock);
    ++p.scopes;
}

PrefaultedAllocations::~PrefaultedAllocations() {
    Prefaulter& p = ThePrefaulter();
    std::lock_guard guard(p.lock);
    // Blocks not reached yet are left to fault in as they are used.
    if (--p.scopes == 0) p.count = 0;
}

}  // namespace platform

extern "C" void* __wrap_malloc(std::size_t bytes) {
    if (!platform::IsLargeAllocation(bytes)) return __real_malloc(bytes);
    // Aligned to a huge page, so that the whole block but its last part is in huge pages.
    void* memory = nullptr;
    if (::posix_memalign(&memory, platform::kHugePage, bytes) != 0) {
        errno = ENOMEM;
        return nullptr;
    }
    platform::AdviseHugePages(memory, bytes);
    platform::Prefault(memory, bytes);
    return memory;
}

extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes) || !platform::IsLargeAllocation(bytes))
        return __real_calloc(count, size);
    // A block this large is mapped fresh (its pages zero until written), or cleared from the
    // heap, by the allocator itself; the advice covers the pages not yet written.
    void* memory = __real_calloc(count, size);
    platform::AdviseHugePages(memory, bytes);
    platform::Prefault(memory, bytes);
    return memory;
}
