// The C allocator as the platform library's own code and its copy of libwebp call it (the link
// routes their malloc and calloc here): blocks of a few megabytes and more are asked for in huge
// pages. The lossless WebP encoder takes some 40 bytes a pixel in fresh blocks of tens of
// megabytes (its hash chain, references, histograms and scratch copies) and reads them out of
// order; in 4 KiB pages that is a page fault for every 4 KiB first written, and a TLB miss for
// most of its reads, which made a 24-megapixel encoding a fifth to a third slower. The blocks
// stay the C allocator's own, so that any free() releases them, the shared libwebp's included.
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/LargeAllocations.h"
#include "platform/WorkerBudget.h"

extern "C" {
void* __real_malloc(std::size_t bytes);
void* __real_calloc(std::size_t count, std::size_t size);
void* __wrap_malloc(std::size_t bytes);
void* __wrap_calloc(std::size_t count, std::size_t size);
}

namespace platform {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;
// The least a thread is given to fill: fewer threads for smaller blocks.
constexpr std::size_t kFilledByOne = std::size_t{8} << 20;

std::atomic<bool> populateRefused{false};

// Asks for huge pages on the whole huge pages within [memory, memory + bytes) and, when the
// calling thread may use others, has the kernel fill the block's pages beforehand on all of
// them: clearing fresh pages took a twentieth of the lossless encoding on its one thread. The
// block is not yet the caller's, so nothing else touches it meanwhile.
void PrepareLargeBlock(void* memory, std::size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator keeps its own mappings: they are left as it made them.
    (void)memory;
    (void)bytes;
#else
    if (!memory) return;
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = (start + bytes) & ~(kHugePage - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);

    const int budget = platform::WorkerBudget();
    if (budget < 2 || populateRefused.load(std::memory_order_relaxed)) return;
    const std::uintptr_t first = (start + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kPage - 1);
    if (last <= first) return;
    const std::size_t span = last - first;
    const int parts = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(budget),
                                                             std::max<std::size_t>(1, span / kFilledByOne)));
    // The parts meet on huge-page boundaries, so that no huge page is split between two.
    const auto cut = [&](int k) -> std::uintptr_t {
        if (k == 0) return first;
        if (k == parts) return last;
        const std::uintptr_t at = (first + span / static_cast<std::size_t>(parts) * static_cast<std::size_t>(k)) &
                                  ~(kHugePage - 1);
        return std::clamp(at, first, last);
    };
    const int saved = errno;  // the caller sees errno as the allocator left it
    platform::ParallelFor(parts, [&](int k) {
        const std::uintptr_t a = cut(k), b = cut(k + 1);
        // Kernels before 5.14 know no such advice: the pages are then filled as first written.
        if (b > a && ::madvise(reinterpret_cast<void*>(a), b - a, MADV_POPULATE_WRITE) != 0 && errno == EINVAL)
            populateRefused.store(true, std::memory_order_relaxed);
    });
    errno = saved;
#endif
}

}  // namespace

bool IsLargeAllocation(std::size_t bytes) { return bytes >= kLargeAllocation; }

}  // namespace platform

extern "C" void* __wrap_malloc(std::size_t bytes) {
    if (!platform::IsLargeAllocation(bytes)) return __real_malloc(bytes);
    // Aligned to a huge page, so that the whole block but its last part is in huge pages.
    void* memory = nullptr;
    if (::posix_memalign(&memory, platform::kHugePage, bytes) != 0) {
        errno = ENOMEM;
        return nullptr;
    }
    platform::PrepareLargeBlock(memory, bytes);
    return memory;
}

extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes) || !platform::IsLargeAllocation(bytes))
        return __real_calloc(count, size);
    // A block this large is mapped fresh (its pages zero until written), or cleared from the
    // heap, by the allocator itself; the advice and the filling cover the pages not yet written.
    void* memory = __real_calloc(count, size);
    platform::PrepareLargeBlock(memory, bytes);
    return memory;
}
