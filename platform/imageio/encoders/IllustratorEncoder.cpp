// Illustrator document: today's Illustrator files are PDF documents, so this is a one-page PDF
// whose page is the picture at its resolution (the page size is the pixel size at that many dots
// per inch), written with QPDF. Grey, RGB and CMYK samples keep their colour space (DeviceGray,
// DeviceRGB, DeviceCMYK); alpha becomes a soft mask. Streams are Flate-compressed; a picture
// without alpha is written as the PDF type writes it.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <exception>
#include <string>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PdfImagePage.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {
namespace {

QPDFObjectHandle ImageStream(QPDF& pdf, int width, int height, const char* space, std::string data) {
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf, std::move(data));
    QPDFObjectHandle dict = stream.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(space));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    return stream;
}

}  // namespace

bool EncodeIllustrator(const Bitmap& image, const DestinationProperties& properties,
                       std::vector<std::uint8_t>& out) {
    if (!raster::IsUsable(image)) return false;
    // Without alpha the document is the PDF type's, made by the same fast compressor.
    if (!image.hasAlpha) return EncodePDF(image, properties, out);
    raster::Pixels px;
    if (!raster::ToNative(image, raster::Alpha::Straight, px)) return false;
    const bool alpha = image.hasAlpha;
    const int colours = px.channels - (alpha ? 1 : 0);
    const char* space = colours == 1 ? "/DeviceGray" : colours == 4 ? "/DeviceCMYK" : "/DeviceRGB";

    try {
        const std::size_t count = static_cast<std::size_t>(px.width) * px.height;
        std::string colour, mask;
        colour.resize(count * colours);
        if (alpha) mask.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            for (int c = 0; c < colours; ++c) colour[i * colours + c] = static_cast<char>(px.data[i * px.channels + c]);
            if (alpha) mask[i] = static_cast<char>(px.data[i * px.channels + colours]);
        }
        px.data.clear();
        px.data.shrink_to_fit();

        QPDF pdf;
        pdf.emptyPDF();
        QPDFObjectHandle picture = ImageStream(pdf, px.width, px.height, space, std::move(colour));
        if (alpha)
            picture.getDict().replaceKey("/SMask", ImageStream(pdf, px.width, px.height, "/DeviceGray", std::move(mask)));

        const double w = px.width * 72.0 / raster::DpiOr72(properties.dpiWidth);
        const double h = px.height * 72.0 / raster::DpiOr72(properties.dpiHeight);
        WriteImagePageDocument(pdf, picture, w, h, out);
        if (out.empty()) return false;
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace platform::encoders
