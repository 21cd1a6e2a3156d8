#include "platform/imageio/ImageDestination.h"

#include <utility>

#include "platform/imageio/encoders/Encoders.h"

namespace platform {
namespace {

// One row per type identifier that the layer writes; an identifier not listed is refused.
constexpr std::pair<std::string_view, ImageEncoder> kEncoders[] = {
    {"", nullptr},
    {"public.png", encoders::EncodePNG},
    {"public.jpeg", encoders::EncodeJPEG},
    {"public.tiff", encoders::EncodeTIFF},
    {"com.compuserve.gif", encoders::EncodeGIF},
    {"public.jpeg-2000", encoders::EncodeJPEG2000},
    {"com.microsoft.bmp", encoders::EncodeBMP},
    {"com.adobe.pdf", encoders::EncodePDF},
    {"com.adobe.photoshop-image", encoders::EncodePhotoshop},
    {"com.ilm.openexr-image", encoders::EncodeOpenExr},
    {"com.apple.icns", encoders::EncodeIcns},
    {"com.truevision.tga-image", encoders::EncodeTga},
    {"com.sgi.sgi-image", encoders::EncodeSgi},
    {"com.apple.pict", encoders::EncodePict},
    {"com.adobe.illustrator.ai-image", encoders::EncodeIllustrator},
    {"com.apple.macpaint-image", encoders::EncodeMacPaint},
    {"com.apple.quicktime-image", encoders::EncodeQuickTimeImage},
    {"com.microsoft.ico", encoders::EncodeIco},
    {"public.xbitmap-image", encoders::EncodeXbm},
    {"com.kodak.flashpix.image", encoders::EncodeFlashPix},
    {"public.fax", encoders::EncodeFax},
    {"public.camera-raw-image", encoders::EncodeDng},
};

}  // namespace

ImageEncoder FindImageEncoder(std::string_view typeIdentifier) {
    for (const auto& [uti, encoder] : kEncoders)
        if (!uti.empty() && uti == typeIdentifier) return encoder;
    return nullptr;
}

std::vector<std::string_view> EncoderTypeIdentifiers() {
    std::vector<std::string_view> identifiers;
    for (const auto& [uti, encoder] : kEncoders)
        if (!uti.empty()) identifiers.push_back(uti);
    return identifiers;
}

bool EncodeImageData(std::string_view typeIdentifier, const Bitmap& image,
                     const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    ImageEncoder encoder = FindImageEncoder(typeIdentifier);
    if (!encoder || !image) return false;
    if (!encoder(image, properties, out)) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace platform
