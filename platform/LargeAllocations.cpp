// The C allocator as the platform library's own code and its copy of libwebp call it (the link
// routes their malloc and calloc here): blocks of a few megabytes and more are asked for in huge
// pages. The lossless WebP encoder takes some 40 bytes a pixel in fresh blocks of tens of
// megabytes (its hash chain, references, histograms and scratch copies) and reads them out of
// order; in 4 KiB pages that is a page fault for every 4 KiB first written, and a TLB miss for
// most of its reads, which made a 24-megapixel encoding a fifth to a third slower. The blocks
// stay the C allocator's own, so that any free() releases them, the shared libwebp's included.
#include <sys/mman.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
    return memory;
}
