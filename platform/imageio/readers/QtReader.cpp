// The formats Qt's image readers serve (BMP, ICO, ICNS, PNM, X bitmaps): every image of the
// file, wrapped without copying its pixels.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <cctype>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

bool IsBilevelFormat(const char* format) {
    return std::strcmp(format, "xbm") == 0 || std::strcmp(format, "pbm") == 0;
}

bool ToRepresentation(QImage image, const char* format, bool stated, int maxval, ImageRepresentation& rep) {
    if (image.isNull() || !FitsBitmapCap(static_cast<std::uint64_t>(image.width()),
                                         static_cast<std::uint64_t>(image.height()), 4))
        return false;
    const QImage::Format source = image.format();
    const bool indexed = source == QImage::Format_Indexed8 || source == QImage::Format_Mono ||
                         source == QImage::Format_MonoLSB;
    bool alpha = false;  // an alpha channel of opaque pixels only is none
    if (image.hasAlphaChannel()) {
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < argb.height() && !alpha; ++y) {
            const QRgb* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            for (int x = 0; x < argb.width() && !alpha; ++x) alpha = qAlpha(row[x]) != 255;
        }
    }
    const bool grey = !alpha && (image.isGrayscale() || IsBilevelFormat(format));
    const bool wide = source == QImage::Format_Grayscale16 || source == QImage::Format_RGBX64 ||
                      source == QImage::Format_RGBA64 || source == QImage::Format_RGBA64_Premultiplied;
    rep.colorKind = IsBilevelFormat(format) ? SourceColorKind::Grey
                    : indexed               ? SourceColorKind::Indexed
                    : grey                  ? SourceColorKind::Grey
                                            : SourceColorKind::RGB;
    rep.bitsPerSample = IsBilevelFormat(format) ? 1 : wide || maxval > 255 ? 16 : source == QImage::Format_Mono ? 1 : 8;
    rep.hasAlpha = alpha;
    // Qt gives every image a resolution; of these formats only BMP states one.
    if (stated && image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        rep.dpiX = static_cast<float>(image.dotsPerMeterX() * 0.0254);
        rep.dpiY = static_cast<float>(image.dotsPerMeterY() * 0.0254);
    }
    const QImage::Format target = grey    ? QImage::Format_Grayscale8
                                  : alpha ? QImage::Format_RGBA8888_Premultiplied
                                          : QImage::Format_RGB888;
    auto converted = std::make_shared<QImage>(image.convertToFormat(target));
    if (converted->isNull()) return false;
    Bitmap& b = rep.bitmap;
    b.width = converted->width();
    b.height = converted->height();
    b.model = grey ? ColorModel::Monochrome : ColorModel::RGB;
    b.hasAlpha = alpha;
    b.components = ComponentsOf(b.model) + (alpha ? 1 : 0);
    b.stride = converted->bytesPerLine();
    b.data = converted->bits();
    b.owner = converted;
    rep.metadata = NoMetadata();
    return true;
}

// The maximum sample value of a grey or colour PNM header ("P2", "P3", "P5", "P6"); 0 otherwise.
int PnmMaxval(const ImageBytes& bytes) {
    const char* p = reinterpret_cast<const char*>(bytes.data());
    const std::size_t n = bytes.size();
    if (n < 3 || p[0] != 'P' || !std::strchr("2356", p[1])) return 0;
    std::size_t at = 2;
    long values[3] = {0, 0, 0};
    for (long& v : values) {
        while (at < n && (std::isspace(static_cast<unsigned char>(p[at])) || p[at] == '#')) {
            if (p[at] == '#')
                while (at < n && p[at] != '\n') ++at;
            else
                ++at;
        }
        while (at < n && std::isdigit(static_cast<unsigned char>(p[at])) && v < 100000) v = v * 10 + (p[at++] - '0');
    }
    return static_cast<int>(values[2]);
}

}  // namespace

std::unique_ptr<ImageSource> OpenWithQt(Bytes bytes, const char* format, const char* typeIdentifier) {
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes->data()),
                                                    static_cast<qsizetype>(bytes->size()));
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) return nullptr;
    QImageReader reader(&buffer, format);
    reader.setAutoTransform(false);
    reader.setAllocationLimit(static_cast<int>(kMaxBitmapBytes >> 20));
    if (!reader.canRead()) return nullptr;
    const QSize size = reader.size();
    if (size.isValid() && !FitsBitmapCap(static_cast<std::uint64_t>(size.width()),
                                         static_cast<std::uint64_t>(size.height()), 1))
        return nullptr;
    // A BMP file's resolution fields (its info header's pixels per metre) are 0 when unstated.
    const bool stated = std::strcmp(format, "bmp") == 0 && bytes->size() >= 46 &&
                        (bytes->data()[38] | bytes->data()[39] | bytes->data()[40] | bytes->data()[41]) != 0;
    const int maxval = PnmMaxval(*bytes);
    std::vector<ImageRepresentation> representations;
    const int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToNextImage()) break;
        ImageRepresentation rep;
        if (!ToRepresentation(reader.read(), format, stated, maxval, rep)) {
            if (i == 0) return nullptr;
            break;
        }
        representations.push_back(std::move(rep));
    }
    return MakeDecodedSource(typeIdentifier, std::move(representations));
}

}  // namespace platform::readers
