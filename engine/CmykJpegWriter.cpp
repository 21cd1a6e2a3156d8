#include <cstdlib>

#include "engine/ImageConverter.h"
#include "engine/codecs/JPEGMemoryCodec.h"
#include "platform/imageio/JpegQuality.h"

std::optional<std::vector<std::uint8_t>> ImageConverter::EncodeCMYKJPEG(std::uint32_t width, std::uint32_t height,
                                                                        const std::uint8_t* samples,
                                                                        std::int32_t colorSpace,
                                                                        std::int32_t components) const {
    const std::int32_t jpegQuality = platform::JpegQualityPercent(quality);

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
