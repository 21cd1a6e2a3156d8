#include "engine/ImageConverter.h"

std::uint8_t ImageConverter::ConvertPages(std::uint8_t resizeEnabled, ImageResizeOptions resizeOptions) {
    (void)resizeEnabled;
    (void)resizeOptions;
    return success.load();
}
