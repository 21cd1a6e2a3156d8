#pragma once

#include <cstddef>

// The platform library's C allocations (its own code's and those of the copy of libwebp linked
// into it) of kLargeAllocation bytes and more are made in huge pages where the kernel gives
// them; they are the C allocator's blocks all the same, released by free().
namespace platform {

inline constexpr std::size_t kLargeAllocation = std::size_t{4} << 20;
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

bool IsLargeAllocation(std::size_t bytes);

// Asks for huge pages on the whole huge pages within [memory, memory + bytes); nothing under the
// address sanitizer, whose allocator keeps its own mappings.
void AdviseHugePages(void* memory, std::size_t bytes);

// While one of these is alive, the pages of the large blocks the platform library's code asks
// for are faulted in by threads of their own, ahead of their first use: for work on one thread
// that fills hundreds of megabytes of fresh blocks, such as a lossless WebP encoding.
class PrefaultedAllocations {
public:
    PrefaultedAllocations();
    ~PrefaultedAllocations();
    PrefaultedAllocations(const PrefaultedAllocations&) = delete;
    PrefaultedAllocations& operator=(const PrefaultedAllocations&) = delete;
};

}  // namespace platform
