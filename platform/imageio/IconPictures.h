#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>

#include "platform/Bitmap.h"

// The square pictures of the icon formats: the page scaled to fit each side, keeping its aspect
// ratio, centred on transparency, and written as PNG. Shrinking is Qt's smooth scaler (area
// averaging, vectorised); each square is made from the largest made before it, so the sides
// must come largest first. An opaque grey page is shrunk to the first square in grey, by the
// writer layer's area-averaging resampler: as 32-bit pixels for Qt it would take four times its
// own memory. The page must outlive the object.
namespace platform {

class IconPictures {
public:
    explicit IconPictures(const Bitmap& page);
    // The PNG of the square of `side` pixels; false when it could not be made.
    bool Png(int side, std::vector<std::uint8_t>& out);

private:
    const Bitmap* grey_ = nullptr;  // an opaque grey page not yet shrunk
    std::shared_ptr<std::uint8_t> memory_;  // the page's converted pixels, while they are the source
    QImage source_;  // the page, or the largest square so far
    bool square_ = false;
};

}  // namespace platform
