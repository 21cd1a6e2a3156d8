#include <cstdlib>

#include "engine/ImageConverter.h"
#include "engine/codecs/JPEGMemoryCodec.h"

std::optional<std::vector<std::uint8_t>> ImageConverter::EncodeCMYKJPEG(std::uint32_t width, std::uint32_t height,
                                                                        const std::uint8_t* samples,
                                                                        std::int32_t colorSpace,
                                                                        std::int32_t components) const {
    // In single precision and truncated: 0.8 gives 80, 0.53 gives 52. Out-of-range values (and
    // not-a-number) are kept to the codec's scale rather than converted with undefined results.
    const float scaled = quality * 100.0f;
    const std::int32_t jpegQuality = scaled >= 100.0f ? 100 : scaled > 0.0f ? static_cast<std::int32_t>(scaled) : 0;

    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    EncodeJPEGData(width, height, samples, colorSpace, components, resolutionX, resolutionY, jpegQuality, &bytes,
                   &size);
    if (size == 0) {
        std::free(bytes);
        return std::nullopt;
    }
    std::vector<std::uint8_t> data(bytes, bytes + size);
    std::free(bytes);
    return data;
}
