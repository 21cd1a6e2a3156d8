#include "platform/imageio/ImageDestination.h"

#include <jpeglib.h>

#include <cstdio>
#include <utility>

#include "platform/imageio/RowEncoder.h"
#include "platform/imageio/encoders/Encoders.h"

namespace platform {
namespace {

// One row per type identifier that the layer writes; an identifier not listed is refused. The
// longest sides are the formats' own (16-bit fields, libjpeg's limit, QuickDraw coordinates).
// A format whose encoder streams has its row encoder too.
struct EncoderRow {
    std::string_view uti;
    ImageEncoder encoder;
    EncoderFacts facts;
    RowEncoderOpener rows = nullptr;
    SinkEncoder into = nullptr;
};
constexpr EncoderRow kEncoders[] = {
    {"", nullptr, {}},
    {"public.png", encoders::EncodePNG, {"PNG", 0, true}, encoders::OpenPNGRows},
    {"public.jpeg", encoders::EncodeJPEG, {"JPEG", JPEG_MAX_DIMENSION, true}, encoders::OpenJPEGRows},
    {"public.tiff", encoders::EncodeTIFF, {"TIFF", 0, true}, encoders::OpenTIFFRows},
    {"com.compuserve.gif", encoders::EncodeGIF, {"GIF", 65535}},
    {"public.jpeg-2000", encoders::EncodeJPEG2000, {"JPEG 2000", 0}},
    {"com.microsoft.bmp", encoders::EncodeBMP, {"BMP", 0, true}, encoders::OpenBMPRows},
    {"com.adobe.pdf", encoders::EncodePDF, {"PDF", 0}},
    {"com.adobe.photoshop-image", encoders::EncodePhotoshop, {"Photoshop", 300000}},
    {"com.ilm.openexr-image", encoders::EncodeOpenExr, {"OpenEXR", 0}},
    {"com.apple.icns", encoders::EncodeIcns, {"ICNS", 0}},
    {"com.truevision.tga-image", encoders::EncodeTga, {"TGA", 65535}},
    {"com.sgi.sgi-image", encoders::EncodeSgi, {"SGI", 65535}},
    {"com.apple.pict", encoders::EncodePict, {"PICT", 32767}},
    {"com.adobe.illustrator.ai-image", encoders::EncodeIllustrator, {"Illustrator", 0}},
    {"com.apple.macpaint-image", encoders::EncodeMacPaint, {"MacPaint", 0}},
    {"com.apple.quicktime-image", encoders::EncodeQuickTimeImage, {"QuickTime image", 65535}},
    {"com.microsoft.ico", encoders::EncodeIco, {"ICO", 0}},
    {"public.xbitmap-image", encoders::EncodeXbm, {"XBM", 0}},
    {"com.kodak.flashpix.image", encoders::EncodeFlashPix, {"FlashPix", 0}, nullptr, encoders::EncodeFlashPixInto},
    {"public.fax", encoders::EncodeFax, {"fax", 0}},
    {"public.camera-raw-image", encoders::EncodeDng, {"DNG", 0}, nullptr, encoders::EncodeDngInto},
};

const EncoderRow* FindRow(std::string_view typeIdentifier) {
    for (const EncoderRow& row : kEncoders)
        if (!row.uti.empty() && row.uti == typeIdentifier) return &row;
    return nullptr;
}

}  // namespace

ImageEncoder FindImageEncoder(std::string_view typeIdentifier) {
    const EncoderRow* row = FindRow(typeIdentifier);
    return row ? row->encoder : nullptr;
}

EncoderFacts FactsOfEncoder(std::string_view typeIdentifier) {
    const EncoderRow* row = FindRow(typeIdentifier);
    return row ? row->facts : EncoderFacts{};
}

std::unique_ptr<RowEncoder> OpenRowEncoder(std::string_view typeIdentifier, const Bitmap& shape,
                                           const DestinationProperties& properties, ByteSink& sink) {
    const EncoderRow* row = FindRow(typeIdentifier);
    return row && row->rows ? row->rows(shape, properties, sink) : nullptr;
}

std::vector<std::string_view> EncoderTypeIdentifiers() {
    std::vector<std::string_view> identifiers;
    for (const EncoderRow& row : kEncoders)
        if (!row.uti.empty()) identifiers.push_back(row.uti);
    return identifiers;
}

bool EncodesIntoSink(std::string_view typeIdentifier) {
    const EncoderRow* row = FindRow(typeIdentifier);
    return row && row->into;
}

bool EncodeImageInto(std::string_view typeIdentifier, const Bitmap& image, const DestinationProperties& properties,
                     ByteSink& sink) {
    const EncoderRow* row = FindRow(typeIdentifier);
    return row && row->into && image && row->into(image, properties, sink);
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
