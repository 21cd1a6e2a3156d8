// PDF: one page the size the resolution gives the image, holding the image as a Flate stream
// with the PNG predictors (the same filtered rows the PNG writer makes). Grey, RGB and CMYK
// keep their colour space; alpha is laid over white.
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/imageio/Encoders.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/PngWriter.h"

namespace platform {
namespace {

std::string Number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", v);
    return text;
}

}  // namespace

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

        const std::string content = "q " + Number(pageW) + " 0 0 " + Number(pageH) + " 0 0 cm /Im0 Do Q\n";
        QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, content);
        QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page >>");
        page.replaceKey("/MediaBox", QPDFObjectHandle::parse("[0 0 " + Number(pageW) + " " + Number(pageH) + "]"));
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Im0", picture);
        resources.replaceKey("/XObject", xobjects);
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", contents);
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);

        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setDeterministicID(true);
        writer.write();
        std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
        if (!written || written->getSize() == 0) return false;
        out.assign(written->getBuffer(), written->getBuffer() + written->getSize());
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace encoders
}  // namespace platform
