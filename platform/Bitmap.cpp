#include "platform/Bitmap.h"

#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace platform {

std::uint8_t* AllocateLarge(std::size_t bytes) {
    // Large buffers in whole huge pages: each first touch of a fresh page is a fault, and a
    // picture of tens of megabytes would otherwise take thousands of them.
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (bytes < 2 * kHuge) return static_cast<std::uint8_t*>(std::malloc(bytes ? bytes : 1));
    const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* memory = std::aligned_alloc(kHuge, rounded);
    if (memory) ::madvise(memory, rounded, MADV_HUGEPAGE);
    return static_cast<std::uint8_t*>(memory);
}

Bitmap Bitmap::Allocate(int width, int height, ColorModel model, bool alpha) {
    Bitmap b;
    if (width < 1 || height < 1) return b;
    const int components = ComponentsOf(model) + (alpha ? 1 : 0);
    const std::size_t stride = static_cast<std::size_t>(width) * components;
    if (stride > kMaxBitmapBytes / static_cast<std::size_t>(height)) return b;
    std::uint8_t* memory = AllocateLarge(stride * height);
    if (!memory) return b;
    b.width = width;
    b.height = height;
    b.model = model;
    b.components = components;
    b.hasAlpha = alpha;
    b.stride = static_cast<std::ptrdiff_t>(stride);
    b.data = memory;
    b.owner = std::shared_ptr<void>(memory, std::free);
    return b;
}

}  // namespace platform
