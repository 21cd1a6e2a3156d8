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

}  // namespace platform
