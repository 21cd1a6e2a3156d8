// PDF: one page the size the resolution gives the image, holding the image as a Flate stream
// with the PNG predictors (the same filtered rows the PNG writer makes). Grey, RGB and CMYK
// keep their colour space; alpha is laid over white.
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstring>
#include <memory>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PdfImagePage.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/PngWriter.h"

namespace platform {
namespace encoders {

bool EncodePDF(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    const PixelLayout layout = image.model == ColorModel::Monochrome ? PixelLayout::Gray
                               : image.model == ColorModel::CMYK     ? PixelLayout::CMYK
                                                                     : PixelLayout::RGB;
    const char* space = layout == PixelLayout::Gray ? "/DeviceGray" : layout == PixelLayout::CMYK ? "/DeviceCMYK" : "/DeviceRGB";
    std::vector<std::uint8_t> samples;
    if (FilterAndCompressRows(image, layout, DefaultPngTuning(), samples) == 0) return false;

    float dpiX = properties.dpiWidth.value_or(properties.dpiHeight.value_or(72));
    float dpiY = properties.dpiHeight.value_or(dpiX);
    if (!(dpiX > 0)) dpiX = 72;
    if (!(dpiY > 0)) dpiY = 72;
    const double pageW = image.width * 72.0 / dpiX;
    const double pageH = image.height * 72.0 / dpiY;

    try {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFObjectHandle picture = QPDFObjectHandle::newStream(&pdf);
        picture.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Image /Width " +
                                                    std::to_string(image.width) + " /Height " +
                                                    std::to_string(image.height) + " /ColorSpace " + space +
                                                    " /BitsPerComponent 8 >>"));
        auto data = std::make_shared<Buffer>(samples.size());
        std::memcpy(data->getBuffer(), samples.data(), samples.size());
        samples = {};
        picture.replaceStreamData(
            data, QPDFObjectHandle::newName("/FlateDecode"),
            QPDFObjectHandle::parse("<< /Predictor 15 /Colors " + std::to_string(BytesPerPixel(layout)) +
                                    " /BitsPerComponent 8 /Columns " + std::to_string(image.width) + " >>"));

        WriteImagePageDocument(pdf, picture, pageW, pageH, out);
        if (out.empty()) return false;
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace encoders
}  // namespace platform
