// QuickTime image file: an 'idsc' atom (the image description) followed by an 'idat' atom
// holding the compressed picture, here PNG ('png ' codec: lossless, keeps alpha and resolution).
// Format: Apple, "QuickTime File Format" (QuickTime image files; ImageDescription record).
// Sides are limited to 65535 (16-bit fields of the description).
#include <cstring>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/PngWriter.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {

bool EncodeQuickTimeImage(const Bitmap& image, const DestinationProperties& properties,
                          std::vector<std::uint8_t>& out) {
    using bytes::PutBE16;
    using bytes::PutBE32;
    if (image.width > 65535 || image.height > 65535 || !raster::IsUsable(image)) return false;
    // The PNG type's own writer, with alpha only when the picture has it.
    DestinationProperties pngProperties = properties;
    pngProperties.hasAlpha = image.hasAlpha;
    const PixelLayout layout = LayoutFor(image, pngProperties.hasAlpha, false);
    const bool grey = layout == PixelLayout::Gray;
    std::vector<std::uint8_t> png;
    if (!EncodePNG(image, pngProperties, png)) return false;

    constexpr std::uint32_t kDescriptionSize = 86;
    out.clear();
    PutBE32(out, 8 + kDescriptionSize);
    out.insert(out.end(), {'i', 'd', 's', 'c'});
    PutBE32(out, kDescriptionSize);
    out.insert(out.end(), {'p', 'n', 'g', ' '});
    PutBE32(out, 0);       // reserved
    PutBE16(out, 0);       // reserved
    PutBE16(out, 0);       // data reference index
    PutBE16(out, 0);       // version
    PutBE16(out, 0);       // revision level
    PutBE32(out, 0);       // vendor
    PutBE32(out, 0);       // temporal quality
    PutBE32(out, 0x400);   // spatial quality: lossless
    PutBE16(out, static_cast<std::uint32_t>(image.width));
    PutBE16(out, static_cast<std::uint32_t>(image.height));
    PutBE32(out, bytes::Fixed16(raster::DpiOr72(properties.dpiWidth)));
    PutBE32(out, bytes::Fixed16(raster::DpiOr72(properties.dpiHeight)));
    PutBE32(out, static_cast<std::uint32_t>(png.size()));
    PutBE16(out, 1);       // frame count
    std::uint8_t name[32] = {3, 'P', 'N', 'G'};  // Pascal string, padded to 32 bytes
    out.insert(out.end(), name, name + sizeof name);
    PutBE16(out, grey ? 40 : image.hasAlpha ? 32 : 24);  // 40: 8-bit grey
    PutBE16(out, 0xFFFF);  // no colour table

    PutBE32(out, static_cast<std::uint32_t>(8 + png.size()));
    out.insert(out.end(), {'i', 'd', 'a', 't'});
    out.insert(out.end(), png.begin(), png.end());
    return true;
}

}  // namespace platform::encoders
