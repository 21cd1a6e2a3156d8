// TIFF through libtiff's client interface, into memory or a file as the rows arrive.
#include <tiffio.h>

#include <algorithm>
#include <atomic>

#include "platform/WorkerBudget.h"
#include "platform/imageio/LzwStrip.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RowEncoder.h"
#include "platform/imageio/TiffSink.h"
#include "platform/imageio/TiffWriter.h"

namespace platform {

constexpr std::size_t kStripBytes = std::size_t{256} << 10;

bool TiffDirectoryWriter::Begin(TIFF* tiff, const Bitmap& shape, const TiffDirectoryOptions& options) {
    tiff_ = tiff;
    height_ = shape.height;
    rows_ = 0;
    // CMYK with alpha stays CMYK, its alpha an extra sample.
    layout_ = shape.model == ColorModel::CMYK && shape.hasAlpha && options.cmykAllowed
                  ? PixelLayout::CMYKA
                  : LayoutFor(shape, options.alpha, options.cmykAllowed);
    const int samples = BytesPerPixel(layout_);
    const bool alpha = layout_ == PixelLayout::GrayAlpha || layout_ == PixelLayout::RGBA || layout_ == PixelLayout::CMYKA;
    const bool separated = layout_ == PixelLayout::CMYK || layout_ == PixelLayout::CMYKA;
    const std::uint16_t photometric = separated ? PHOTOMETRIC_SEPARATED
                                      : (layout_ == PixelLayout::Gray || layout_ == PixelLayout::GrayAlpha)
                                          ? PHOTOMETRIC_MINISBLACK
                                          : PHOTOMETRIC_RGB;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(shape.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(shape.height));
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
        const bool grey = layout_ == PixelLayout::Gray || layout_ == PixelLayout::GrayAlpha;
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
    const std::size_t rowBytes = static_cast<std::size_t>(shape.width) * samples;
    const std::size_t rowsPerStrip = std::max<std::size_t>(64, kStripBytes / rowBytes);
    rowsPerStrip_ = static_cast<int>(std::min(rowsPerStrip, static_cast<std::size_t>(shape.height)));
    compression_ = options.compression;
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rowsPerStrip_));
    return true;
}

// The whole picture at once in LZW: its strips compressed side by side on the call's threads, a
// few at a time (so that only those are held compressed), and written in order as raw strips.
bool TiffDirectoryWriter::WriteLzwStrips(const Bitmap& image) {
    const std::uint32_t strips = TIFFNumberOfStrips(tiff_);
    if (rowsPerStrip_ < 1 || strips != static_cast<std::uint32_t>((height_ + rowsPerStrip_ - 1) / rowsPerStrip_))
        return false;
    const int batch = std::max(1, WorkerBudget()) * 2;
    std::vector<std::vector<std::uint8_t>> compressed(static_cast<std::size_t>(batch));
    for (std::uint32_t first = 0; first < strips; first += static_cast<std::uint32_t>(batch)) {
        const int count = static_cast<int>(std::min<std::uint32_t>(static_cast<std::uint32_t>(batch), strips - first));
        std::atomic<bool> failed{false};
        ParallelFor(count, [&](int k) {
            const int top = static_cast<int>(first + static_cast<std::uint32_t>(k)) * rowsPerStrip_;
            const int rows = std::min(rowsPerStrip_, height_ - top);
            std::vector<std::uint8_t>& out = compressed[static_cast<std::size_t>(k)];
            try {
                PixelRows source(image, layout_);
                const std::size_t rowBytes = static_cast<std::size_t>(source.RowBytes());
                const std::size_t bytes = rowBytes * static_cast<std::size_t>(rows);
                // Rows already in the file's layout, one after the other, are compressed where they lie.
                if (source.Row(top) == image.row(top) && static_cast<std::size_t>(image.stride) == rowBytes) {
                    CompressLzwStrip(image.row(top), bytes, out);
                    return;
                }
                std::vector<std::uint8_t> strip(bytes);
                for (int y = 0; y < rows; ++y)
                    source.RowInto(top + y, strip.data() + rowBytes * static_cast<std::size_t>(y));
                CompressLzwStrip(strip.data(), strip.size(), out);
            } catch (...) {
                failed = true;  // no memory for the strip
            }
        });
        if (failed) return false;
        for (int k = 0; k < count; ++k) {
            std::vector<std::uint8_t>& out = compressed[static_cast<std::size_t>(k)];
            if (TIFFWriteRawStrip(tiff_, first + static_cast<std::uint32_t>(k), out.data(),
                                  static_cast<tmsize_t>(out.size())) < 0)
                return false;
        }
    }
    return true;
}

bool TiffDirectoryWriter::WriteRows(const Bitmap& band) {
    if (!tiff_ || rows_ + band.height > height_) return false;
    if (compression_ == COMPRESSION_LZW && rows_ == 0 && band.height == height_) {
        if (!WriteLzwStrips(band)) return false;
        rows_ = height_;
        return true;
    }
    PixelRows rows(band, layout_);
    for (int y = 0; y < band.height; ++y) {
        // libtiff only reads the row (it encodes from its own buffer).
        auto* row = const_cast<std::uint8_t*>(rows.Row(y));
        if (TIFFWriteScanline(tiff_, row, static_cast<std::uint32_t>(rows_ + y), 0) < 0) return false;
    }
    rows_ += band.height;
    return true;
}

bool TiffDirectoryWriter::End() { return tiff_ && rows_ == height_ && TIFFWriteDirectory(tiff_) != 0; }

bool WriteTiffDirectory(TIFF* tiff, const Bitmap& image, const TiffDirectoryOptions& options) {
    TiffDirectoryWriter writer;
    return writer.Begin(tiff, image, options) && writer.WriteRows(image) && writer.End();
}

std::optional<CompressedTiffStrips> CompressTiffStrips(const Bitmap& image, const TiffDirectoryOptions& options) {
    // The picture as a TIFF in memory, whose strips are taken out before it is closed.
    std::vector<std::uint8_t> file;
    raster::TiffSink sink(file);
    TIFF* tiff = sink.tiff();
    TiffDirectoryWriter writer;
    if (!tiff || !writer.Begin(tiff, image, options) || !writer.WriteRows(image) || !TIFFFlushData(tiff) ||
        sink.failed())
        return std::nullopt;
    const std::uint32_t count = TIFFNumberOfStrips(tiff);
    std::uint64_t* offsets = nullptr;
    std::uint64_t* sizes = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_STRIPOFFSETS, &offsets) || !TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &sizes) ||
        !offsets || !sizes)
        return std::nullopt;
    CompressedTiffStrips compressed;
    compressed.strips.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (offsets[i] > file.size() || sizes[i] > file.size() - offsets[i]) return std::nullopt;
        const auto from = file.begin() + static_cast<std::ptrdiff_t>(offsets[i]);
        compressed.strips.emplace_back(from, from + static_cast<std::ptrdiff_t>(sizes[i]));
    }
    return compressed;
}

bool WriteCompressedTiffDirectory(TIFF* tiff, const Bitmap& shape, const TiffDirectoryOptions& options,
                                  const CompressedTiffStrips& compressed) {
    TiffDirectoryWriter writer;
    if (!writer.Begin(tiff, shape, options) || compressed.strips.size() != TIFFNumberOfStrips(tiff)) return false;
    for (std::size_t i = 0; i < compressed.strips.size(); ++i) {
        const std::vector<std::uint8_t>& strip = compressed.strips[i];
        // libtiff only reads the data.
        if (TIFFWriteRawStrip(tiff, static_cast<std::uint32_t>(i), const_cast<std::uint8_t*>(strip.data()),
                              static_cast<tmsize_t>(strip.size())) < 0)
            return false;
    }
    return TIFFWriteDirectory(tiff) != 0;
}

namespace {

// One TIFF image written as its rows arrive.
class TiffRowEncoder final : public RowEncoder {
public:
    TiffRowEncoder(ByteSink& sink) : file_(sink) {}

    bool Start(const Bitmap& shape, const DestinationProperties& properties) {
        if (!file_.tiff()) return Failed();
        TiffDirectoryOptions options;
        options.dpiX = properties.dpiWidth.value_or(properties.dpiHeight.value_or(0));
        options.dpiY = properties.dpiHeight.value_or(options.dpiX);
        options.compression = properties.tiffCompression.value_or(COMPRESSION_NONE);
        options.orientation = properties.orientation.value_or(1);
        options.alpha = properties.hasAlpha;
        options.metadata = properties.metadata.get();
        return writer_.Begin(file_.tiff(), shape, options) || Failed();
    }
    bool WriteRows(const Bitmap& band) override { return (!file_.failed() && writer_.WriteRows(band)) || Failed(); }
    bool Finish() override { return (writer_.End() && file_.Close()) || Failed(); }

private:
    bool Failed() {
        if (message_.empty()) message_ = file_.message().empty() ? "libtiff refused the image" : file_.message();
        return false;
    }
    raster::TiffSink file_;
    TiffDirectoryWriter writer_;
};

}  // namespace

namespace encoders {

std::unique_ptr<RowEncoder> OpenTIFFRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink) {
    if (shape.width < 1 || shape.height < 1) return nullptr;
    auto encoder = std::make_unique<TiffRowEncoder>(sink);
    if (!encoder->Start(shape, properties)) return nullptr;
    return encoder;
}

bool EncodeTIFF(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    return EncodeInOneBand(OpenTIFFRows, image, properties, out) && !out.empty();
}

}  // namespace encoders
}  // namespace platform
