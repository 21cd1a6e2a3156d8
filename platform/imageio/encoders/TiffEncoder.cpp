// TIFF into memory through libtiff (TiffSink.h).
#include <tiffio.h>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/TiffSink.h"
#include "platform/imageio/TiffWriter.h"

namespace platform {

constexpr std::size_t kStripBytes = std::size_t{256} << 10;

bool WriteTiffDirectory(TIFF* tiff, const Bitmap& image, const TiffDirectoryOptions& options) {
    // CMYK with alpha stays CMYK, its alpha an extra sample.
    const PixelLayout layout = image.model == ColorModel::CMYK && image.hasAlpha && options.cmykAllowed
                                   ? PixelLayout::CMYKA
                                   : LayoutFor(image, options.alpha, options.cmykAllowed);
    const int samples = BytesPerPixel(layout);
    const bool alpha = layout == PixelLayout::GrayAlpha || layout == PixelLayout::RGBA || layout == PixelLayout::CMYKA;
    const bool separated = layout == PixelLayout::CMYK || layout == PixelLayout::CMYKA;
    const std::uint16_t photometric = separated ? PHOTOMETRIC_SEPARATED
                                      : (layout == PixelLayout::Gray || layout == PixelLayout::GrayAlpha)
                                          ? PHOTOMETRIC_MINISBLACK
                                          : PHOTOMETRIC_RGB;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    if (separated) TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(options.orientation));
    if (options.dpiX > 0 && options.dpiY > 0) {
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, options.dpiX);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, options.dpiY);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, static_cast<std::uint16_t>(options.compression));
    if (alpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (options.metadata) {
        const IccSpace space = IccColorSpace(options.metadata->icc);
        const bool grey = layout == PixelLayout::Gray || layout == PixelLayout::GrayAlpha;
        const bool cmyk = separated;
        if ((space == IccSpace::Grey && grey) || (space == IccSpace::CMYK && cmyk) ||
            (space == IccSpace::RGB && !grey && !cmyk))
            TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(options.metadata->icc.size()),
                         options.metadata->icc.data());
        if (!options.metadata->xmp.empty())
            TIFFSetField(tiff, TIFFTAG_XMLPACKET, static_cast<std::uint32_t>(options.metadata->xmp.size()),
                         options.metadata->xmp.data());
    }
    if (options.pageIndex) {
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tiff, TIFFTAG_PAGENUMBER, *options.pageIndex, options.pageCount);
    }
    // LZW starts afresh in every strip: libtiff's default of about 8 KiB (2 rows of a wide page)
    // made the files a third larger, 64 KiB strips a tenth. 256 KiB, and at least 64 rows,
    // measured as small as tiffcp's 64-row strips and no slower.
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * samples;
    const std::size_t rowsPerStrip = std::max<std::size_t>(64, kStripBytes / rowBytes);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                 static_cast<std::uint32_t>(std::min(rowsPerStrip, static_cast<std::size_t>(image.height))));

    PixelRows rows(image, layout);
    for (int y = 0; y < image.height; ++y) {
        // libtiff only reads the row (it encodes from its own buffer).
        auto* row = const_cast<std::uint8_t*>(rows.Row(y));
        if (TIFFWriteScanline(tiff, row, static_cast<std::uint32_t>(y), 0) < 0) return false;
    }
    return TIFFWriteDirectory(tiff) != 0;
}

namespace encoders {

bool EncodeTIFF(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    raster::TiffSink sink(out);
    if (!sink.tiff()) return false;
    TiffDirectoryOptions options;
    options.dpiX = properties.dpiWidth.value_or(properties.dpiHeight.value_or(0));
    options.dpiY = properties.dpiHeight.value_or(options.dpiX);
    options.compression = properties.tiffCompression.value_or(COMPRESSION_NONE);
    options.orientation = properties.orientation.value_or(1);
    options.alpha = properties.hasAlpha;
    options.metadata = properties.metadata.get();
    const bool written = WriteTiffDirectory(sink.tiff(), image, options);
    return sink.Close() && written && !out.empty();
}

}  // namespace encoders
}  // namespace platform
