// TIFF through libtiff: every directory of the file. Grey, RGB and CMYK images of 8 or 16 bits a
// sample in strips or tiles are read as they are stored (MinIsWhite inverted, 16-bit samples
// scaled, unassociated alpha premultiplied, associated alpha kept); everything else (palettes,
// bilevel and odd depths, planar files, YCbCr) goes through libtiff's RGBA reader.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/WorkerBudget.h"
#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

// A read-only file in memory; libtiff reads strips from the mapping without copying them.
struct MemoryFile {
    const std::uint8_t* data;
    std::uint64_t size;
    std::uint64_t position = 0;
};

tmsize_t Read(thandle_t h, void* buf, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    if (size <= 0 || f->position >= f->size) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), f->size - f->position);
    std::memcpy(buf, f->data + f->position, n);
    f->position += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }
toff_t Seek(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    const std::uint64_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? f->size : 0;
    f->position = base + offset;
    return f->position;
}
int Close(thandle_t) { return 0; }
toff_t Size(thandle_t h) { return static_cast<MemoryFile*>(h)->size; }
int Map(thandle_t h, void** base, toff_t* size) {
    auto* f = static_cast<MemoryFile*>(h);
    *base = const_cast<std::uint8_t*>(f->data);
    *size = f->size;
    return 1;
}
void Unmap(thandle_t, void*, toff_t) {}
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// One libtiff handle over the bytes.
class Handle {
public:
    explicit Handle(const Bytes& bytes) : file_{bytes->data(), bytes->size()} {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
        tiff_ = TIFFClientOpenExt("memory", "r", &file_, Read, Write, Seek, Close, Size, Map, Unmap, options);
        TIFFOpenOptionsFree(options);
    }
    ~Handle() {
        if (tiff_) TIFFClose(tiff_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    TIFF* get() const { return tiff_; }

private:
    MemoryFile file_;
    TIFF* tiff_ = nullptr;
};

struct Directory {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE, inkSet = INKSET_CMYK;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    int colours = 1;            // colour samples
    int alphaKind = 0;          // 0 none, EXTRASAMPLE_ASSOCALPHA or EXTRASAMPLE_UNASSALPHA
    bool tiled = false;
};

Directory ReadDirectory(TIFF* tif) {
    Directory d;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &d.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &d.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &d.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &d.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &d.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &d.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &d.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &d.orientation);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &d.photometric))
        d.photometric = d.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &d.inkSet);
    d.tiled = TIFFIsTiled(tif) != 0;
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0 && extra &&
        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA))
        d.alphaKind = extra[0];
    switch (d.photometric) {
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_YCBCR:
        case PHOTOMETRIC_PALETTE: d.colours = d.photometric == PHOTOMETRIC_PALETTE ? 1 : 3; break;
        case PHOTOMETRIC_SEPARATED: d.colours = 4; break;
        default: d.colours = 1; break;
    }
    if (d.samples < d.colours + (d.alphaKind ? 1 : 0)) d.alphaKind = 0;
    return d;
}

// Whether the samples can be read as they are stored.
bool Direct(const Directory& d) {
    if (d.sampleFormat != SAMPLEFORMAT_UINT || (d.bits != 8 && d.bits != 16)) return false;
    if (d.planar != PLANARCONFIG_CONTIG || d.samples < d.colours) return false;
    if (d.compression == COMPRESSION_OJPEG) return false;
    switch (d.photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_RGB: return true;
        case PHOTOMETRIC_SEPARATED: return d.inkSet == INKSET_CMYK && d.samples >= 4;
        default: return false;
    }
}

// Turns `rows` rows of stored samples into bitmap rows.
void ConvertRows(const Directory& d, const std::uint8_t* in, std::size_t inStride, int rows, int x0, int columns,
                 Bitmap& out, int y0) {
    const int outComponents = out.components;
    const bool invert = d.photometric == PHOTOMETRIC_MINISWHITE;
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* src = in + inStride * r;
        std::uint8_t* dst = out.row(y0 + r) + static_cast<std::size_t>(x0) * outComponents;
        if (d.bits == 8 && !invert && d.samples == outComponents && d.alphaKind != EXTRASAMPLE_UNASSALPHA) {
            std::memcpy(dst, src, static_cast<std::size_t>(columns) * outComponents);
        } else {
            for (int x = 0; x < columns; ++x) {
                for (int c = 0; c < d.colours; ++c) {
                    unsigned v = d.bits == 8 ? src[x * d.samples + c]
                                             : Scale16To8(reinterpret_cast<const std::uint16_t*>(src)[x * d.samples + c]);
                    dst[x * outComponents + c] = static_cast<std::uint8_t>(invert ? 255 - v : v);
                }
                if (d.alphaKind) {
                    const int c = d.colours;
                    dst[x * outComponents + c] =
                        d.bits == 8 ? src[x * d.samples + c]
                                    : Scale16To8(reinterpret_cast<const std::uint16_t*>(src)[x * d.samples + c]);
                }
            }
            if (d.alphaKind == EXTRASAMPLE_UNASSALPHA) PremultiplyRow(dst, columns, outComponents);
        }
        if (d.alphaKind == EXTRASAMPLE_ASSOCALPHA) {
            // Stored premultiplied; a colour above its alpha is out of range.
            for (int x = 0; x < columns; ++x) {
                const std::uint8_t a = dst[x * outComponents + d.colours];
                for (int c = 0; c < d.colours; ++c)
                    dst[x * outComponents + c] = std::min(dst[x * outComponents + c], a);
            }
        }
    }
}

// Decodes strips [first, last) of the current directory into `out`.
bool ReadStrips(TIFF* tif, const Directory& d, std::uint32_t first, std::uint32_t last, Bitmap& out) {
    std::uint32_t rowsPerStrip = d.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, d.height);
    const std::size_t rowBytes = static_cast<std::size_t>(d.width) * d.samples * (d.bits / 8);
    std::vector<std::uint8_t> buffer(rowBytes * rowsPerStrip);
    for (std::uint32_t s = first; s < last; ++s) {
        const std::uint32_t y0 = s * rowsPerStrip;
        if (y0 >= d.height) break;
        const int rows = static_cast<int>(std::min(rowsPerStrip, d.height - y0));
        const tmsize_t want = static_cast<tmsize_t>(rowBytes * rows);
        if (TIFFReadEncodedStrip(tif, s, buffer.data(), want) < want) return false;
        ConvertRows(d, buffer.data(), rowBytes, rows, 0, static_cast<int>(d.width), out, static_cast<int>(y0));
    }
    return true;
}

bool ReadTiles(TIFF* tif, const Directory& d, Bitmap& out) {
    std::uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    if (tw == 0 || th == 0) return false;
    const std::size_t tileRow = static_cast<std::size_t>(tw) * d.samples * (d.bits / 8);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(TIFFTileSize(tif)));
    if (buffer.size() < tileRow * th) return false;
    for (std::uint32_t y = 0; y < d.height; y += th)
        for (std::uint32_t x = 0; x < d.width; x += tw) {
            if (TIFFReadTile(tif, buffer.data(), x, y, 0, 0) < 0) return false;
            ConvertRows(d, buffer.data(), tileRow, static_cast<int>(std::min(th, d.height - y)), static_cast<int>(x),
                        static_cast<int>(std::min(tw, d.width - x)), out, static_cast<int>(y));
        }
    return true;
}

// libtiff's RGBA reader: colour premultiplied by the alpha whatever the file's kind of alpha.
bool ReadRgba(TIFF* tif, const Directory& d, Bitmap& out) {
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(d.width) * d.height);
    const int origin = d.orientation >= 1 && d.orientation <= 4 ? d.orientation : ORIENTATION_TOPLEFT;
    if (!TIFFReadRGBAImageOriented(tif, d.width, d.height, raster.data(), origin, 0)) return false;
    const int n = out.components;
    for (std::uint32_t y = 0; y < d.height; ++y) {
        std::uint8_t* dst = out.row(static_cast<int>(y));
        const std::uint32_t* src = raster.data() + static_cast<std::size_t>(y) * d.width;
        for (std::uint32_t x = 0; x < d.width; ++x, dst += n) {
            const std::uint32_t p = src[x];
            if (out.model == ColorModel::Monochrome) {
                dst[0] = static_cast<std::uint8_t>(TIFFGetR(p));
            } else {
                dst[0] = static_cast<std::uint8_t>(TIFFGetR(p));
                dst[1] = static_cast<std::uint8_t>(TIFFGetG(p));
                dst[2] = static_cast<std::uint8_t>(TIFFGetB(p));
            }
            if (out.hasAlpha) dst[n - 1] = static_cast<std::uint8_t>(TIFFGetA(p));
        }
    }
    return true;
}

class TiffSource : public ImageSource {
public:
    TiffSource(Bytes bytes, std::size_t directories)
        : ImageSource("public.tiff"), bytes_(std::move(bytes)), directories_(directories) {}
    std::size_t count() const override { return directories_; }

    bool Read(std::size_t index, ImageRepresentation& out) override {
        out = {};
        Handle handle(bytes_);
        TIFF* tif = handle.get();
        if (!tif || index > 0xFFFF || !TIFFSetDirectory(tif, static_cast<tdir_t>(index))) return false;
        const Directory d = ReadDirectory(tif);
        const bool direct = Direct(d);
        const bool grey = d.photometric == PHOTOMETRIC_MINISBLACK || d.photometric == PHOTOMETRIC_MINISWHITE;
        const ColorModel model = direct && d.photometric == PHOTOMETRIC_SEPARATED ? ColorModel::CMYK
                                 : grey                                           ? ColorModel::Monochrome
                                                                                  : ColorModel::RGB;
        const bool alpha = d.alphaKind != 0;
        if (!FitsBitmapCap(d.width, d.height, ComponentsOf(model) + (alpha ? 1 : 0))) return false;
        if (!direct && !FitsBitmapCap(d.width, d.height, 4)) return false;
        Bitmap bitmap = Bitmap::Allocate(static_cast<int>(d.width), static_cast<int>(d.height), model, alpha);
        if (!bitmap) return false;
        bool ok;
        if (!direct)
            ok = ReadRgba(tif, d, bitmap);
        else if (d.tiled)
            ok = ReadTiles(tif, d, bitmap);
        else
            ok = ReadStripsInParallel(tif, d, index, bitmap);
        if (!ok) {
            bytes_->Evict();
            return false;
        }

        out.bitmap = std::move(bitmap);
        out.colorKind = d.photometric == PHOTOMETRIC_PALETTE    ? SourceColorKind::Indexed
                        : d.photometric == PHOTOMETRIC_SEPARATED ? SourceColorKind::CMYK
                        : grey                                   ? SourceColorKind::Grey
                                                                 : SourceColorKind::RGB;
        out.bitsPerSample = d.bits;
        out.hasAlpha = alpha;
        out.orientation = d.orientation >= 1 && d.orientation <= 8 && direct ? d.orientation : 1;
        float xres = 0, yres = 0;
        std::uint16_t unit = RESUNIT_INCH;
        TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
        if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) &&
            xres > 0 && yres > 0 && unit != RESUNIT_NONE) {
            const float scale = unit == RESUNIT_CENTIMETER ? 2.54f : 1.0f;
            out.dpiX = xres * scale;
            out.dpiY = yres * scale;
        }
        auto metadata = std::make_shared<ImageMetadata>();
        std::uint32_t length = 0;
        void* data = nullptr;
        if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &data) && data && length) {
            const auto* p = static_cast<const std::uint8_t*>(data);
            metadata->icc.assign(p, p + length);
        }
        if (TIFFGetField(tif, TIFFTAG_XMLPACKET, &length, &data) && data && length)
            metadata->xmp.assign(static_cast<const char*>(data), length);
        out.metadata = std::move(metadata);
        bytes_->Evict();
        return true;
    }

private:
    // Strips are independent: a large image is decoded by the threads the caller's budget
    // allows (platform/WorkerBudget.h), each with a handle of its own over the same bytes.
    bool ReadStripsInParallel(TIFF* tif, const Directory& d, std::size_t index, Bitmap& out) {
        const std::uint32_t strips = TIFFNumberOfStrips(tif);
        const std::uint64_t pixels = static_cast<std::uint64_t>(d.width) * d.height;
        const int parts = pixels < (1u << 20) || strips < 8
                              ? 1
                              : static_cast<int>(std::min<std::uint32_t>(static_cast<std::uint32_t>(WorkerBudget()), strips / 4));
        if (parts <= 1) return ReadStrips(tif, d, 0, strips, out);
        const std::uint32_t share = (strips + static_cast<std::uint32_t>(parts) - 1) / static_cast<std::uint32_t>(parts);
        std::vector<char> ok(static_cast<std::size_t>(parts), 0);
        ParallelFor(parts, [&](int k) {
            const std::uint32_t first = static_cast<std::uint32_t>(k) * share;
            const std::uint32_t last = std::min(strips, first + share);
            if (k == 0) {
                ok[0] = ReadStrips(tif, d, first, last, out);
                return;
            }
            Handle own(bytes_);
            ok[static_cast<std::size_t>(k)] = own.get() && TIFFSetDirectory(own.get(), static_cast<tdir_t>(index)) &&
                                              ReadStrips(own.get(), d, first, last, out);
        });
        return std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
    }

    Bytes bytes_;
    std::size_t directories_;
};

}  // namespace

std::unique_ptr<ImageSource> OpenTiff(Bytes bytes) {
    Handle handle(bytes);
    if (!handle.get()) return nullptr;
    const tdir_t directories = TIFFNumberOfDirectories(handle.get());
    if (directories == 0) return nullptr;
    const Directory first = ReadDirectory(handle.get());
    if (!FitsBitmapCap(first.width, first.height, 1)) return nullptr;
    return std::make_unique<TiffSource>(std::move(bytes), directories);
}

}  // namespace platform::readers
