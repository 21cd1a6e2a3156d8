#include "platform/Bitmap.h"

#include <cstdlib>
#include <new>

namespace platform {

Bitmap Bitmap::Allocate(int width, int height, ColorModel model, bool alpha) {
    Bitmap b;
    if (width < 1 || height < 1) return b;
    const int components = ComponentsOf(model) + (alpha ? 1 : 0);
    const std::size_t stride = static_cast<std::size_t>(width) * components;
    if (stride > kMaxBitmapBytes / static_cast<std::size_t>(height)) return b;
    auto* memory = static_cast<std::uint8_t*>(std::malloc(stride * height));
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
