#pragma once

#include <cstdint>
#include <vector>

#include "platform/Bitmap.h"

// Colour conversion of whole pictures for the redraw, and its sharpening of luminance.

// `image` in `model`, with premultiplied alpha when `alpha` is set. Without it, a source's alpha
// is composited over zero, as a picture drawn on a zero-filled canvas is. `icc`, the source's
// profile (may be empty), converts through lcms2 into sRGB or an sRGB-toned grey when the model
// changes and the profile's colour space is the source's; the device formulas of the writer layer
// (ConvertRow) do the rest. Returns `image` itself when nothing changes; an empty bitmap when the
// memory cannot be had.
platform::Bitmap ConvertToModel(const platform::Bitmap& image, const std::vector<std::uint8_t>& icc,
                                platform::ColorModel model, bool alpha);

// An unsharp mask on the luminance of `image` (grey, RGB or CMYK, premultiplied alpha kept): the
// difference between each pixel's luminance and its Gaussian blur (sigma 1 pixel), times
// `amount`, added to the pixel's lightness. A flat area stays as it is.
void SharpenLuminance(platform::Bitmap& image, float amount);
