#include "platform/imageio/IconPictures.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/BufferPool.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RasterPrep.h"

namespace platform {
namespace {

// Opaque grey samples as 32-bit RGBX.
void WidenGreyRow(const std::uint8_t* in, int width, std::uint8_t* out) {
    for (int x = 0; x < width; ++x, out += 4) {
        out[0] = out[1] = out[2] = in[x];
        out[3] = 255;
    }
}

// The page as a QImage in a form Qt's scaler takes as it is: opaque grey and RGB pages as
// 32-bit RGBX in a pooled buffer (a fresh page-sized one costs more in page faults than the
// conversion), the rest as premultiplied RGBA.
QImage PageImage(const Bitmap& page, std::shared_ptr<std::uint8_t>& memory) {
    if (!page.hasAlpha && (page.model == ColorModel::RGB || page.model == ColorModel::Monochrome)) {
        const std::size_t rowBytes = static_cast<std::size_t>(page.width) * 4;
        memory = AcquireBuffer(rowBytes * static_cast<std::size_t>(page.height));
        if (!memory) return {};
        for (int y = 0; y < page.height; ++y) {
            const std::uint8_t* in = page.row(y);
            std::uint8_t* out = memory.get() + rowBytes * static_cast<std::size_t>(y);
            if (page.model == ColorModel::RGB) {
                ConvertRow(page, in, page.width, PixelLayout::RGBA, out);  // opaque: the fourth byte 255
            } else {
                WidenGreyRow(in, page.width, out);
            }
        }
        return QImage(memory.get(), page.width, page.height, static_cast<qsizetype>(rowBytes), QImage::Format_RGBX8888);
    }
    if (page.model == ColorModel::RGB && page.hasAlpha)
        return QImage(page.data, page.width, page.height, static_cast<qsizetype>(page.stride),
                      QImage::Format_RGBA8888_Premultiplied);
    raster::Pixels rgba;
    if (!raster::ToPremultipliedRgba(page, rgba)) return {};
    QImage wrapped(rgba.data.data(), rgba.width, rgba.height, static_cast<qsizetype>(rgba.rowBytes()),
                   QImage::Format_RGBA8888_Premultiplied);
    return wrapped.copy();  // its own memory, since `rgba` goes
}

// The size of a picture of width × height fitted into a square of `side`, keeping its aspect ratio.
QSize FittedSize(int width, int height, int side) {
    const double scale = std::min(static_cast<double>(side) / width, static_cast<double>(side) / height);
    return {std::clamp(static_cast<int>(std::lround(width * scale)), 1, side),
            std::clamp(static_cast<int>(std::lround(height * scale)), 1, side)};
}

// An opaque grey page shrunk to w × h in grey, then widened to 32-bit RGBX for Qt.
QImage ShrunkGreyImage(const Bitmap& page, int w, int h) {
    raster::Pixels unused;
    const raster::PixelsView rows = raster::RowsAsTheyLieOr(page, raster::Alpha::Flatten, true, unused);
    if (!rows.data || rows.channels != 1) return {};
    const raster::Pixels shrunk = raster::Resize(rows, w, h);
    QImage image(w, h, QImage::Format_RGBX8888);
    if (image.isNull()) return {};
    for (int y = 0; y < h; ++y) WidenGreyRow(shrunk.row(y), w, image.scanLine(y));
    return image;
}

}  // namespace

IconPictures::IconPictures(const Bitmap& page) {
    if (!page.hasAlpha && page.model == ColorModel::Monochrome && raster::IsUsable(page))
        grey_ = &page;
    else
        source_ = PageImage(page, memory_);
}

bool IconPictures::Png(int side, std::vector<std::uint8_t>& out) {
    if (side < 1) return false;
    if (grey_) {
        // The first square: a grey page larger than it is shrunk in grey, any other taken whole.
        const Bitmap& page = *grey_;
        grey_ = nullptr;
        const QSize fit = FittedSize(page.width, page.height, side);
        const bool shrinks = fit.width() <= page.width && fit.height() <= page.height &&
                             (fit.width() < page.width || fit.height() < page.height);
        source_ = shrinks ? ShrunkGreyImage(page, fit.width(), fit.height()) : PageImage(page, memory_);
    }
    if (source_.isNull()) return false;
    const QSize fit = FittedSize(source_.width(), source_.height(), side);
    const int w = fit.width(), h = fit.height();
    QImage scaled;
    if (w == source_.width() && h == source_.height()) {
        scaled = source_;
    } else if (w <= source_.width() && h <= source_.height()) {
        scaled = source_.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        // A page smaller than the icon grows by our linear resampler, in floating point: Qt's
        // 8-bit one drifts on semi-transparent colours. Such pages are small, so this is cheap.
        const QImage rgba = source_.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        raster::Pixels px;
        px.width = rgba.width();
        px.height = rgba.height();
        px.channels = 4;
        px.data.resize(px.rowBytes() * static_cast<std::size_t>(px.height));
        for (int y = 0; y < px.height; ++y) std::memcpy(px.row(y), rgba.constScanLine(y), px.rowBytes());
        const raster::Pixels grown = raster::Resize(px, w, h);
        scaled = QImage(w, h, QImage::Format_RGBA8888_Premultiplied);
        if (scaled.isNull()) return false;
        for (int y = 0; y < h; ++y) std::memcpy(scaled.scanLine(y), grown.row(y), grown.rowBytes());
    }
    scaled.convertTo(QImage::Format_RGBA8888_Premultiplied);
    QImage box(side, side, QImage::Format_RGBA8888_Premultiplied);
    if (scaled.isNull() || box.isNull()) return false;
    box.fill(Qt::transparent);
    const int left = (side - w) / 2, top = (side - h) / 2;
    for (int y = 0; y < h; ++y)
        std::memcpy(box.scanLine(top + y) + static_cast<std::size_t>(left) * 4, scaled.constScanLine(y),
                    static_cast<std::size_t>(w) * 4);

    Bitmap picture;
    picture.width = side;
    picture.height = side;
    picture.model = ColorModel::RGB;
    picture.components = 4;
    picture.hasAlpha = true;
    picture.stride = box.bytesPerLine();
    picture.data = box.bits();
    DestinationProperties properties;
    properties.hasAlpha = true;
    if (!encoders::EncodePNG(picture, properties, out)) return false;
    if (!square_) {
        source_ = std::move(box);
        memory_.reset();
        square_ = true;
    }
    return true;
}

}  // namespace platform
