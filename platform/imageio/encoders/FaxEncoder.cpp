// Fax image: a one-page bilevel TIFF of the facsimile profile (RFC 2306, "TIFF-F"): one bit per
// pixel, white is zero, CCITT Group 4 (T.6) coded, with the page's resolution. Written by
// libtiff. The page keeps its size and resolution; its greys are dithered.
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"
#include "platform/imageio/TiffSink.h"

namespace platform::encoders {

bool EncodeFax(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    raster::Pixels grey;
    if (!raster::ToGrey(image, raster::Alpha::Flatten, grey)) return false;
    const std::size_t rowBytes = (static_cast<std::size_t>(grey.width) + 7) / 8;
    std::vector<std::uint8_t> bits = raster::DitherToBilevel(grey, rowBytes);

    raster::TiffSink sink(out);
    TIFF* tif = sink.tiff();
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(grey.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(grey.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(grey.height));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, raster::DpiOr72(properties.dpiWidth));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, raster::DpiOr72(properties.dpiHeight));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, 0, 1);
    if (TIFFWriteEncodedStrip(tif, 0, bits.data(), static_cast<tmsize_t>(bits.size())) < 0) return false;
    if (!TIFFWriteDirectory(tif)) return false;
    return sink.Close();
}

}  // namespace platform::encoders
