// PNG: rows filtered by us and compressed by the row compressor (RowDeflate.h: runs of
// one-colour rows written directly, the rows between them by our own compressor at the fast
// levels, by libdeflate at the others), several times faster than zlib at a smaller size; the
// container is simple enough to write here.
#include <libdeflate.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/BufferPool.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/PngWriter.h"
#include "platform/imageio/RowDeflate.h"
#include "platform/imageio/RowEncoder.h"

namespace platform {
namespace {

using bytes::PutBE32;
using bytes::StoreBE32;

void PutChunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data, std::uint32_t length) {
    PutBE32(out, length);
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (length) out.insert(out.end(), data, data + length);
    PutBE32(out, libdeflate_crc32(0, out.data() + start, length + 4));
}

inline std::uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    if (pb <= pc) return static_cast<std::uint8_t>(b);
    return static_cast<std::uint8_t>(c);
}

// Filters one row into out[0] (the filter type) and out[1..]. `prev` is the row above
// (nullptr for the first row).
void FilterRow(PngFilter filter, const std::uint8_t* row, const std::uint8_t* prev, int bytes, int bpp,
               std::uint8_t* out) {
    if (!prev && (filter == PngFilter::Up || filter == PngFilter::Paeth)) filter = PngFilter::Sub;
    std::uint8_t* o = out + 1;
    switch (filter) {
        case PngFilter::None:
            out[0] = 0;
            std::memcpy(o, row, static_cast<std::size_t>(bytes));
            break;
        case PngFilter::Sub:
            out[0] = 1;
            for (int i = 0; i < bpp && i < bytes; ++i) o[i] = row[i];
            for (int i = bpp; i < bytes; ++i) o[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
            break;
        case PngFilter::Up:
            out[0] = 2;
            for (int i = 0; i < bytes; ++i) o[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
            break;
        case PngFilter::Paeth:
            out[0] = 4;
            for (int i = 0; i < bpp && i < bytes; ++i) o[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
            for (int i = bpp; i < bytes; ++i)
                o[i] = static_cast<std::uint8_t>(row[i] - Paeth(row[i - bpp], prev[i], prev[i - bpp]));
            break;
        case PngFilter::Adaptive: break;  // chosen by the caller
    }
}

// The usual heuristic: the filter whose output, read as signed bytes, sums smallest.
std::uint64_t Cost(const std::uint8_t* filtered, int bytes) {
    std::uint64_t sum = 0;
    for (int i = 0; i < bytes; ++i) {
        const int v = static_cast<std::int8_t>(filtered[i + 1]);
        sum += static_cast<unsigned>(v < 0 ? -v : v);
    }
    return sum;
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// The ICC profile (where its colour space is the one written), EXIF and XMP chunks.
void PutMetadataChunks(std::vector<std::uint8_t>& out, const ImageMetadata& metadata, PixelLayout layout) {
    const IccSpace space = IccColorSpace(metadata.icc);
    const bool grey = layout == PixelLayout::Gray || layout == PixelLayout::GrayAlpha;
    if ((space == IccSpace::Grey && grey) || (space == IccSpace::RGB && !grey)) {
        std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
            libdeflate_alloc_compressor(9), libdeflate_free_compressor);
        if (compressor) {
            std::vector<std::uint8_t> chunk = {'I', 'C', 'C', ' ', 'P', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
            const std::size_t at = chunk.size();
            chunk.resize(at + libdeflate_zlib_compress_bound(compressor.get(), metadata.icc.size()));
            const std::size_t n = libdeflate_zlib_compress(compressor.get(), metadata.icc.data(), metadata.icc.size(),
                                                           chunk.data() + at, chunk.size() - at);
            if (n) PutChunk(out, "iCCP", chunk.data(), static_cast<std::uint32_t>(at + n));
        }
    }
    if (!metadata.exif.empty() && metadata.exif.size() < 0x7FFFFFFF)
        PutChunk(out, "eXIf", metadata.exif.data(), static_cast<std::uint32_t>(metadata.exif.size()));
    if (!metadata.xmp.empty() && metadata.xmp.size() < 0x7FFFFF00) {
        // iTXt: keyword, no compression, no language, no translated keyword, the packet.
        static const char kHead[] = "XML:com.adobe.xmp\0\0\0\0";
        std::vector<std::uint8_t> chunk(kHead, kHead + sizeof kHead - 1);
        chunk.insert(chunk.end(), metadata.xmp.begin(), metadata.xmp.end());
        PutChunk(out, "iTXt", chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    }
}

}  // namespace

PngTuning DefaultPngTuning() { return PngTuning{}; }

PngRowCompressor::PngRowCompressor(PixelLayout layout, int width, const PngTuning& tuning)
    : layout_(layout),
      tuning_(tuning),
      bpp_(BytesPerPixel(layout)),
      rowBytes_(static_cast<std::size_t>(width) * BytesPerPixel(layout)),
      deflater_(tuning.level) {
    if (tuning.filter == PngFilter::Adaptive) trial_.resize(rowBytes_ + 1);
}

std::size_t PngRowCompressor::Add(const Bitmap& band, bool last, std::vector<std::uint8_t>& out) {
    const std::size_t filteredSize = (rowBytes_ + 1) * static_cast<std::size_t>(band.height);
    // Filter every row of the band into one buffer: the row compressor takes a whole band at once.
    std::shared_ptr<std::uint8_t> filtered = AcquireBuffer(filteredSize);
    if (!filtered) return 0;
    PixelRows rows(band, layout_);
    const std::uint8_t* prev = previous_.empty() ? nullptr : previous_.data();
    const bool keepsPrevious = tuning_.filter != PngFilter::None;
    for (int y = 0; y < band.height; ++y) {
        std::uint8_t* dest = filtered.get() + static_cast<std::size_t>(y) * (rowBytes_ + 1);
        if (!keepsPrevious) {
            // Straight into place: no row buffer, no copy.
            dest[0] = 0;
            rows.RowInto(y, dest + 1);
            continue;
        }
        const std::uint8_t* row = rows.Row(y);
        if (tuning_.filter != PngFilter::Adaptive) {
            FilterRow(tuning_.filter, row, prev, static_cast<int>(rowBytes_), bpp_, dest);
        } else {
            FilterRow(PngFilter::None, row, prev, static_cast<int>(rowBytes_), bpp_, dest);
            std::uint64_t best = Cost(dest, static_cast<int>(rowBytes_));
            for (PngFilter f : {PngFilter::Sub, PngFilter::Up, PngFilter::Paeth}) {
                if (!prev && f != PngFilter::Sub) continue;
                FilterRow(f, row, prev, static_cast<int>(rowBytes_), bpp_, trial_.data());
                const std::uint64_t cost = Cost(trial_.data(), static_cast<int>(rowBytes_));
                if (cost < best) {
                    best = cost;
                    std::memcpy(dest, trial_.data(), rowBytes_ + 1);
                }
            }
        }
        // The row above, kept: the reader's row buffer is reused.
        previous_.assign(row, row + rowBytes_);
        prev = previous_.data();
    }

    // The band through the row compressor; should that ever fail on a stream of one band, the
    // whole buffer by libdeflate. The filtered rows of a band larger
    // than the pool keeps give their memory back as they are compressed (there is then nothing
    // to retry from).
    const bool first = !deflater_.started();
    const bool large = filteredSize > kBufferPoolLimit;
    std::size_t compressed = deflater_.Add(filtered.get(), rowBytes_, band.height, bpp_, last, out, large);
    if (compressed == 0 && first && last && !large) {
        thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor;
        thread_local int compressorLevel = -1;
        if (!compressor || compressorLevel != tuning_.level) {
            compressor.reset(libdeflate_alloc_compressor(tuning_.level));
            compressorLevel = tuning_.level;
        }
        if (!compressor) return 0;
        const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filteredSize);
        std::shared_ptr<std::uint8_t> scratch = AcquireBuffer(bound);
        if (!scratch) return 0;
        compressed = libdeflate_zlib_compress(compressor.get(), filtered.get(), filteredSize, scratch.get(), bound);
        if (compressed) out.insert(out.end(), scratch.get(), scratch.get() + compressed);
    }
    return compressed;
}

std::size_t FilterAndCompressRows(const Bitmap& image, PixelLayout layout, const PngTuning& tuning,
                                  std::vector<std::uint8_t>& out) {
    PngRowCompressor compressor(layout, image.width, tuning);
    return compressor.Add(image, true, out);
}

namespace {

// The file: signature and header first, one IDAT chunk per band, the end chunk last.
class PngRowEncoder final : public RowEncoder {
public:
    PngRowEncoder(const Bitmap& shape, const DestinationProperties& properties, const PngTuning& tuning, ByteSink& sink)
        : sink_(sink),
          height_(shape.height),
          layout_(LayoutFor(shape, properties.hasAlpha, false)),
          compressor_(layout_, shape.width, tuning),
          properties_(properties),
          width_(shape.width) {}

    bool Start() {
        const std::uint8_t colourType = layout_ == PixelLayout::Gray        ? 0
                                        : layout_ == PixelLayout::GrayAlpha ? 4
                                        : layout_ == PixelLayout::RGB       ? 2
                                                                            : 6;
        static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        chunk_.assign(kSignature, kSignature + 8);
        std::uint8_t ihdr[13];
        StoreBE32(ihdr, static_cast<std::uint32_t>(width_));
        StoreBE32(ihdr + 4, static_cast<std::uint32_t>(height_));
        ihdr[8] = 8;
        ihdr[9] = colourType;
        ihdr[10] = ihdr[11] = ihdr[12] = 0;
        PutChunk(chunk_, "IHDR", ihdr, 13);
        if (properties_.dpiWidth || properties_.dpiHeight) {
            const float dx = properties_.dpiWidth.value_or(properties_.dpiHeight.value_or(72));
            const float dy = properties_.dpiHeight.value_or(dx);
            if (dx > 0 && dy > 0) {
                std::uint8_t phys[9];
                StoreBE32(phys, static_cast<std::uint32_t>(std::lround(dx / 0.0254)));
                StoreBE32(phys + 4, static_cast<std::uint32_t>(std::lround(dy / 0.0254)));
                phys[8] = 1;  // metres
                PutChunk(chunk_, "pHYs", phys, 9);
            }
        }
        if (properties_.metadata) PutMetadataChunks(chunk_, *properties_.metadata, layout_);
        return Flush();
    }

    bool WriteRows(const Bitmap& band) override {
        if (band.height < 1 || rows_ + band.height > height_) return Fail("rows beyond the picture");
        const bool last = rows_ + band.height == height_;
        // The band's IDAT chunk, compressed in place after its header.
        chunk_.resize(8);
        std::memcpy(chunk_.data() + 4, "IDAT", 4);
        const std::size_t compressed = compressor_.Add(band, last, chunk_);
        if (compressed == 0 || compressed > 0x7FFFFFFFu) return Fail("the rows could not be compressed");
        StoreBE32(chunk_.data(), static_cast<std::uint32_t>(compressed));
        PutBE32(chunk_, libdeflate_crc32(0, chunk_.data() + 4, compressed + 4));
        rows_ += band.height;
        return Flush();
    }

    bool Finish() override {
        if (rows_ != height_) return Fail("rows missing");
        chunk_.clear();
        PutChunk(chunk_, "IEND", nullptr, 0);
        return Flush();
    }

private:
    bool Flush() {
        if (!sink_.Append(chunk_.data(), chunk_.size())) return Fail("the file could not be written");
        chunk_.clear();
        return true;
    }
    bool Fail(const char* why) {
        if (message_.empty()) message_ = why;
        return false;
    }

    ByteSink& sink_;
    int height_;
    PixelLayout layout_;
    PngRowCompressor compressor_;
    DestinationProperties properties_;
    int width_;
    int rows_ = 0;
    std::vector<std::uint8_t> chunk_;
};

}  // namespace

bool EncodePNGTuned(const Bitmap& image, const DestinationProperties& properties, const PngTuning& tuning,
                    std::vector<std::uint8_t>& out) {
    out.clear();
    MemorySink sink(out);
    PngRowEncoder encoder(image, properties, tuning, sink);
    return encoder.Start() && encoder.WriteRows(image) && encoder.Finish();
}

bool EncodePngPixels(const raster::Pixels& pixels, const DestinationProperties& properties,
                     std::vector<std::uint8_t>& out) {
    if (pixels.channels < 1 || pixels.channels > 4) return false;
    Bitmap view;
    view.width = pixels.width;
    view.height = pixels.height;
    view.model = pixels.channels <= 2 ? ColorModel::Monochrome : ColorModel::RGB;
    view.components = pixels.channels;
    view.hasAlpha = pixels.channels == 2 || pixels.channels == 4;
    view.stride = static_cast<std::ptrdiff_t>(pixels.rowBytes());
    view.data = const_cast<std::uint8_t*>(pixels.data.data());  // only read
    if (!view) return false;
    DestinationProperties png = properties;
    png.hasAlpha = view.hasAlpha;
    return EncodePNGTuned(view, png, DefaultPngTuning(), out);
}

namespace encoders {

bool EncodePNG(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    return EncodePNGTuned(image, properties, DefaultPngTuning(), out);
}

std::unique_ptr<RowEncoder> OpenPNGRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink) {
    if (shape.width < 1 || shape.height < 1) return nullptr;
    auto encoder = std::make_unique<PngRowEncoder>(shape, properties, DefaultPngTuning(), sink);
    if (!encoder->Start()) return nullptr;
    return encoder;
}

}  // namespace encoders
}  // namespace platform
