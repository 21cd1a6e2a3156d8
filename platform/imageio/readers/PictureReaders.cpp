// The picture readers of the WebP encoders. libjpeg and libpng end a failed read with a longjmp
// back into the reader: the functions that call setjmp hold only C state (no object with a
// destructor lives in those frames).
#include "platform/imageio/readers/PictureReaders.h"

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/WorkerBudget.h"
#include "platform/imageio/readers/ImageSource.h"

namespace platform {

void PictureMetadataInit(PictureMetadata* record) {
    if (!record) return;
    *record = PictureMetadata{};
}

void MetadataBlobRelease(MetadataBlob* blob) {
    if (!blob) return;
    std::free(blob->bytes);
    blob->bytes = nullptr;
    blob->size = 0;
}

void PictureMetadataFree(PictureMetadata* record) {
    if (!record) return;
    MetadataBlobRelease(&record->exif);
    MetadataBlobRelease(&record->icc);
    MetadataBlobRelease(&record->xmp);
}

bool MetadataBlobCopy(const std::uint8_t* source, std::uint64_t length, MetadataBlob* blob) {
    if (!source || length == 0 || !blob) return false;
    if (length > SIZE_MAX) return false;
    blob->bytes = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(length)));
    if (!blob->bytes) return false;
    std::memcpy(blob->bytes, source, static_cast<std::size_t>(length));
    blob->size = length;
    return true;
}

int CompareICCSegments(const void* a, const void* b) {
    return static_cast<const ICCSegment*>(a)->sequence - static_cast<const ICCSegment*>(b)->sequence;
}

namespace {

// ---------------------------------------------------------------------------------------------
// JPEG

struct JPEGReadError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void JPEGReadErrorExit(j_common_ptr info) {
    JPEGReadError* error = reinterpret_cast<JPEGReadError*>(info->err);
    (*info->err->output_message)(info);
    std::longjmp(error->jump, 1);
}

struct JPEGMetadataSignature {
    int marker;
    const char* signature;
    std::size_t length;
    MetadataBlob PictureMetadata::*target;
};

constexpr char kXMPSignature[] = "http://ns.adobe.com/xap/1.0/";  // 28 characters and its zero
const JPEGMetadataSignature kJPEGMetadataSignatures[] = {
    {JPEG_APP0 + 1, "Exif\0", 6, &PictureMetadata::exif},
    {JPEG_APP0 + 1, kXMPSignature, sizeof kXMPSignature, &PictureMetadata::xmp},
};

constexpr char kICCSignature[] = "ICC_PROFILE";  // 11 characters and its zero
constexpr std::size_t kICCHeader = sizeof kICCSignature + 2;  // signature, sequence, count

// The ICC profile from the saved APP2 segments, put in sequence order. False (with the reason
// printed) when the segments do not make one whole profile.
bool ExtractICCProfile(jpeg_saved_marker_ptr markers, MetadataBlob* icc) {
    ICCSegment segments[255] = {};
    int expectedCount = 0, found = 0, highest = 0;
    std::uint64_t total = 0;
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length <= kICCHeader) continue;
        if (std::memcmp(m->data, kICCSignature, sizeof kICCSignature) != 0) continue;
        const int sequence = m->data[sizeof kICCSignature];
        const int count = m->data[sizeof kICCSignature + 1];
        const std::uint64_t length = m->data_length - kICCHeader;
        if (sequence == 0 || count == 0) {
            std::fprintf(stderr, "[ICCP] size (%d) / count (%d) / sequence number (%d) cannot be 0!\n",
                         static_cast<int>(length), count, sequence);
            return false;
        }
        if (expectedCount == 0) {
            expectedCount = count;
        } else if (count != expectedCount) {
            std::fprintf(stderr, "[ICCP] Inconsistent segment count (%d / %d)!\n", expectedCount, count);
            return false;
        }
        ICCSegment& slot = segments[sequence - 1];
        if (slot.size != 0) {
            std::fprintf(stderr, "[ICCP] Duplicate segment number (%d)!\n", sequence);
            return false;
        }
        slot = ICCSegment{m->data + kICCHeader, length, sequence};
        total += length;
        if (sequence > highest) highest = sequence;
        ++found;
    }
    if (found == 0) return true;
    if (highest != found) {
        std::fprintf(stderr, "[ICCP] Discontinuous segments, expected: %d actual: %d!\n", found, highest);
        return false;
    }
    if (expectedCount != found) {
        std::fprintf(stderr, "[ICCP] Segment count: %d does not match expected: %d!\n", found, expectedCount);
        return false;
    }
    // The filled slots are 1 to `found` already; sorting keeps the order explicit for any table.
    std::qsort(segments, static_cast<std::size_t>(found), sizeof segments[0], CompareICCSegments);
    icc->bytes = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(total)));
    if (!icc->bytes) return false;
    icc->size = total;
    std::uint8_t* out = icc->bytes;
    for (int i = 0; i < found; ++i) {
        std::memcpy(out, segments[i].data, static_cast<std::size_t>(segments[i].size));
        out += segments[i].size;
    }
    return true;
}

bool ExtractJPEGMetadata(jpeg_saved_marker_ptr markers, PictureMetadata* metadata) {
    if (!ExtractICCProfile(markers, &metadata->icc)) return false;
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        for (const JPEGMetadataSignature& row : kJPEGMetadataSignatures) {
            if (m->marker != row.marker || m->data_length <= row.length) continue;
            if (std::memcmp(m->data, row.signature, row.length) != 0) continue;
            MetadataBlob& target = metadata->*row.target;
            if (target.size == 0) {
                if (!MetadataBlobCopy(m->data + row.length, m->data_length - row.length, &target)) return false;
            } else {
                std::fprintf(stderr, "Ignoring additional '%s' marker\n", row.signature);
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// PNG

void PNGReadErrorExit(png_structp png, png_const_charp message) {
    if (message) std::fprintf(stderr, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

using TextHandler = bool (*)(const char* text, std::size_t length, MetadataBlob* blob);

bool CopyText(const char* text, std::size_t length, MetadataBlob* blob) {
    return MetadataBlobCopy(reinterpret_cast<const std::uint8_t*>(text), length, blob);
}

struct PNGMetadataKeyword {
    const char* keyword;
    TextHandler handler;
    MetadataBlob PictureMetadata::*target;
};

const PNGMetadataKeyword kPNGMetadataKeywords[] = {
    {"Raw profile type exif", ParseRawProfileText, &PictureMetadata::exif},
    {"Raw profile type xmp", ParseRawProfileText, &PictureMetadata::xmp},
    {"Raw profile type APP1", ParseRawProfileText, &PictureMetadata::exif},
    {"XML:com.adobe.xmp", CopyText, &PictureMetadata::xmp},
};

bool ExtractPNGText(png_structp png, png_infop info, PictureMetadata* metadata) {
    png_textp text = nullptr;
    const int count = png_get_text(png, info, &text, nullptr);
    for (int i = 0; i < count; ++i) {
        const png_text& chunk = text[i];
        for (const PNGMetadataKeyword& row : kPNGMetadataKeywords) {
            if (!chunk.key || std::strcmp(chunk.key, row.keyword) != 0) continue;
            MetadataBlob& target = metadata->*row.target;
            if (target.size != 0) {
                std::fprintf(stderr, "Ignoring additional '%s'\n", row.keyword);
            } else {
                const bool international = chunk.compression == PNG_ITXT_COMPRESSION_NONE ||
                                           chunk.compression == PNG_ITXT_COMPRESSION_zTXt;
                const std::size_t length = international ? chunk.itxt_length : chunk.text_length;
                if (!row.handler(chunk.text, length, &target)) {
                    std::fprintf(stderr, "Failed to process: '%s'\n", row.keyword);
                    return false;
                }
            }
            break;
        }
    }
    return true;
}

bool ExtractPNGMetadata(png_structp png, png_infop info, png_infop endInfo, PictureMetadata* metadata) {
    if (!ExtractPNGText(png, info, metadata) || !ExtractPNGText(png, endInfo, metadata)) return false;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) == PNG_INFO_iCCP)
        return MetadataBlobCopy(profile, length, &metadata->icc);
    return true;
}

// ---------------------------------------------------------------------------------------------
// TIFF

// libtiff's RGBA raster holds premultiplied colour: straight again, as libwebp takes it.
void UnpremultiplyRaster(std::uint32_t* raster, std::uint64_t pixels) {
    std::uint8_t* p = reinterpret_cast<std::uint8_t*>(raster);
    for (std::uint64_t i = 0; i < pixels; ++i, p += 4) {
        const unsigned a = p[3];
        if (a == 255 || a == 0) continue;
        for (int c = 0; c < 3; ++c) {
            const unsigned v = (p[c] * 255u + a / 2) / a;
            p[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        }
    }
}

struct TIFFMetadataTag {
    ttag_t tag;
    MetadataBlob PictureMetadata::*target;
};
const TIFFMetadataTag kTIFFMetadataTags[] = {
    {TIFFTAG_ICCPROFILE, &PictureMetadata::icc},
    {TIFFTAG_XMLPACKET, &PictureMetadata::xmp},
};

// Whether the directory says it has an alpha channel (associated or not).
bool TIFFHasAlpha(TIFF* tif) {
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    return TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 1 && count > 0;
}

// The common layout read straight into the picture's ARGB pixels, its strips shared out among
// the worker budget's threads, each with a handle of its own: 8-bit RGB strips, with no alpha
// or one alpha sample, top-left. The pixels are those the RGBA raster would give through
// WebPPictureImportRGBA (straight colour, associated alpha made straight) or, without
// `keepAlpha`, WebPPictureImportRGBX (opaque). False when the directory has another layout, or
// a strip or the picture's memory fails; the picture is then read the general way.
bool ReadRGBStripsIntoPicture(TIFF* tif, const char* path, std::uint32_t width, std::uint32_t height, int keepAlpha,
                              WebPPicture* picture) {
    std::uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, orientation = ORIENTATION_TOPLEFT;
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFIsTiled(tif) || !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits) || bits != 8 ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) || (samples != 3 && samples != 4) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar) || planar != PLANARCONFIG_CONTIG ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) || photometric != PHOTOMETRIC_RGB)
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (orientation != ORIENTATION_TOPLEFT || extraCount != samples - 3u) return false;
    const bool alpha = samples == 4 && keepAlpha;
    const bool associated = alpha && extra[0] != EXTRASAMPLE_UNASSALPHA;
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > height) rowsPerStrip = height;
    const std::uint32_t strips = TIFFNumberOfStrips(tif);
    if (strips != (height + rowsPerStrip - 1) / rowsPerStrip) return false;
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    picture->use_argb = 1;
    if (!WebPPictureAlloc(picture)) return false;
    // Each reader takes the next strip not yet taken, so that a reader slowed down by other work
    // leaves more of them to the others.
    const int parts = static_cast<int>(std::min<std::uint32_t>(strips, static_cast<std::uint32_t>(WorkerBudget())));
    std::atomic<std::uint32_t> nextStrip{0};
    std::vector<char> ok(static_cast<std::size_t>(parts), 0);
    ParallelFor(parts, [&](int k) {
        TIFF* own = k == 0 ? tif : TIFFOpen(path, "r");
        if (!own) return;
        const std::size_t stripBytes = static_cast<std::size_t>(width) * samples * rowsPerStrip;
        std::vector<std::uint8_t> strip;
        bool good = true;
        try {
            strip.resize(stripBytes);
        } catch (...) {
            good = false;  // no memory for the strip: the picture is read the general way
        }
        for (std::uint32_t s = good ? nextStrip++ : strips; good && s < strips; s = nextStrip++) {
            const std::uint32_t rows = std::min(rowsPerStrip, height - s * rowsPerStrip);
            const tmsize_t want = static_cast<tmsize_t>(std::size_t{width} * samples * rows);
            good = TIFFReadEncodedStrip(own, s, strip.data(), want) == want;
            const std::uint8_t* in = strip.data();
            for (std::uint32_t y = 0; good && y < rows; ++y) {
                std::uint32_t* out =
                    picture->argb + std::size_t{s * rowsPerStrip + y} * static_cast<std::size_t>(picture->argb_stride);
                if (!alpha) {
                    for (std::uint32_t x = 0; x < width; ++x, in += samples)
                        out[x] = 0xFF000000u | std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
                    continue;
                }
                for (std::uint32_t x = 0; x < width; ++x, in += 4) {
                    unsigned r = in[0], g = in[1], b = in[2];
                    const unsigned a = in[3];
                    if (associated && a != 255 && a != 0) {
                        // As UnpremultiplyRaster does.
                        r = std::min(255u, (r * 255u + a / 2) / a);
                        g = std::min(255u, (g * 255u + a / 2) / a);
                        b = std::min(255u, (b * 255u + a / 2) / a);
                    }
                    out[x] = a << 24 | r << 16 | g << 8 | b;
                }
            }
        }
        if (own != tif) TIFFClose(own);
        ok[static_cast<std::size_t>(k)] = good;
    });
    if (std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; })) return true;
    WebPPictureFree(picture);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Raw YUV 4:2:0

bool ReadPlane(std::FILE* file, std::uint8_t* plane, int stride, int width, int height) {
    for (int y = 0; y < height; ++y)
        if (std::fread(plane + static_cast<std::ptrdiff_t>(y) * stride, 1, static_cast<std::size_t>(width), file) !=
            static_cast<std::size_t>(width))
            return false;
    return true;
}

bool ReadRawYUV(std::FILE* file, WebPPicture* picture) {
    const int wantsARGB = picture->use_argb;
    picture->use_argb = 0;
    if (!WebPPictureAlloc(picture)) return false;
    const int uvWidth = (picture->width + 1) / 2, uvHeight = (picture->height + 1) / 2;
    if (!ReadPlane(file, picture->y, picture->y_stride, picture->width, picture->height) ||
        !ReadPlane(file, picture->u, picture->uv_stride, uvWidth, uvHeight) ||
        !ReadPlane(file, picture->v, picture->uv_stride, uvWidth, uvHeight))
        return false;
    return !wantsARGB || WebPPictureYUVAToARGB(picture);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool ParseRawProfileText(const char* text, std::size_t length, MetadataBlob* blob) {
    if (!text || length == 0 || !blob) return false;
    const char* p = text;
    const char* const end = text + length;
    const auto malformed = [](const char* at, const char* end) {
        std::fprintf(stderr, "Malformed raw profile, expected '\\n' got '\\x%.2X'\n",
                     at < end ? static_cast<unsigned char>(*at) : 0u);
        return false;
    };
    if (*p != '\n') return malformed(p, end);
    ++p;
    while (p < end && *p != '\n') ++p;  // the profile's name
    if (p < end) ++p;
    while (p < end && std::isspace(static_cast<unsigned char>(*p)) && *p != '\n') ++p;
    // The declared length: unsigned, and never more than the rest of the text can hold at two
    // characters a byte, so that a forged length allocates nothing.
    std::uint64_t declared = 0;
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9') {
        declared = declared * 10 + static_cast<unsigned>(*p - '0');
        if (declared > length) return false;
        ++p;
    }
    if (p == digits || p >= end || *p != '\n') return malformed(p, end);
    ++p;
    if (declared == 0 || declared > static_cast<std::uint64_t>(end - p) / 2) return false;
    std::uint8_t* bytes = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(declared)));
    if (!bytes) return false;
    std::uint64_t produced = 0;
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    while (produced < declared && p < end) {
        if (*p == '\n') {
            ++p;
            continue;
        }
        if (*p == '\0' || p + 1 >= end) break;
        const int high = hex(p[0]), low = hex(p[1]);
        if (high < 0 || low < 0) break;
        bytes[produced++] = static_cast<std::uint8_t>(high << 4 | low);
        p += 2;
    }
    if (produced < declared) {
        std::free(bytes);
        return false;
    }
    blob->bytes = bytes;
    blob->size = declared;
    return true;
}

bool ReadJPEGPicture(std::FILE* file, WebPPicture* picture, PictureMetadata* metadata) {
    JPEGReadError error;
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    std::uint8_t* volatile rgb = nullptr;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JPEGReadErrorExit;
    if (setjmp(error.jump)) {
        std::free(rgb);
        jpeg_destroy_decompress(&info);
        PictureMetadataFree(metadata);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    if (metadata) {
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    }
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    info.do_fancy_upsampling = TRUE;
    jpeg_calc_output_dimensions(&info);
    if (info.output_components != 3 || !FitsBitmapCap(info.output_width, info.output_height, 3)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 3;
    rgb = static_cast<std::uint8_t*>(std::malloc(stride * info.output_height));
    if (!rgb) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = rgb + stride * info.output_scanline;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            std::free(rgb);
            jpeg_destroy_decompress(&info);
            return false;
        }
    }
    if (metadata && !ExtractJPEGMetadata(info.marker_list, metadata)) {
        std::fprintf(stderr, "Error extracting JPEG metadata!\n");
        std::free(rgb);
        jpeg_destroy_decompress(&info);
        PictureMetadataFree(metadata);
        return false;
    }
    jpeg_finish_decompress(&info);
    const int width = static_cast<int>(info.output_width), height = static_cast<int>(info.output_height);
    jpeg_destroy_decompress(&info);
    picture->width = width;
    picture->height = height;
    const bool ok = WebPPictureImportRGB(picture, rgb, static_cast<int>(stride)) != 0;
    std::free(rgb);
    if (!ok) PictureMetadataFree(metadata);
    return ok;
}

bool ReadPNGPicture(std::FILE* file, WebPPicture* picture, int keepAlpha, PictureMetadata* metadata) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_set_error_fn(png, nullptr, PNGReadErrorExit, nullptr);
    png_infop info = nullptr;
    png_infop endInfo = nullptr;
    std::uint8_t* volatile rgb = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        std::free(rgb);
        png_destroy_read_struct(&png, &info, &endInfo);
        PictureMetadataFree(metadata);
        return false;
    }
    info = png_create_info_struct(png);
    endInfo = info ? png_create_info_struct(png) : nullptr;
    if (!info || !endInfo) {
        png_destroy_read_struct(&png, &info, &endInfo);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0;
    if (!png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr)) {
        png_destroy_read_struct(&png, &info, &endInfo);
        return false;
    }
    png_set_strip_16(png);
    png_set_packing(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    bool alpha;
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
        alpha = true;
    } else {
        alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0;
    }
    if (!keepAlpha) {
        png_set_strip_alpha(png);
        alpha = false;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int components = alpha ? 4 : 3;
    if (!FitsBitmapCap(width, height, components)) {
        png_destroy_read_struct(&png, &info, &endInfo);
        return false;
    }
    const std::size_t stride = static_cast<std::size_t>(width) * components;
    rgb = static_cast<std::uint8_t*>(std::malloc(stride * height));
    if (!rgb) {
        png_destroy_read_struct(&png, &info, &endInfo);
        return false;
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_bytep row = rgb + y * stride;
            png_read_rows(png, &row, nullptr, 1);
        }
    }
    png_read_end(png, endInfo);
    if (metadata && !ExtractPNGMetadata(png, info, endInfo, metadata)) {
        std::fprintf(stderr, "Error extracting PNG metadata!\n");
        std::free(rgb);
        png_destroy_read_struct(&png, &info, &endInfo);
        PictureMetadataFree(metadata);
        return false;
    }
    png_destroy_read_struct(&png, &info, &endInfo);
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    picture->use_argb = 1;
    const bool ok = (alpha ? WebPPictureImportRGBA(picture, rgb, static_cast<int>(stride))
                           : WebPPictureImportRGB(picture, rgb, static_cast<int>(stride))) != 0;
    std::free(rgb);
    if (!ok) PictureMetadataFree(metadata);
    return ok;
}

bool ReadTIFFPicture(const char* path, WebPPicture* picture, int keepAlpha, PictureMetadata* metadata) {
    TIFF* tif = TIFFOpen(path, "r");
    if (!tif) {
        std::fprintf(stderr, "Error! Cannot open TIFF file '%s'\n", path);
        return false;
    }
    const int directories = TIFFNumberOfDirectories(tif);
    if (directories >= 2) {
        std::fprintf(stderr,
                     "Warning: multi-directory TIFF files are not supported.\n"
                     "Only the first will be used, %d will be ignored.\n",
                     directories - 1);
        TIFFSetDirectory(tif, 0);
    }
    std::uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
        std::fprintf(stderr, "Error! Cannot retrieve TIFF image dimensions.\n");
        TIFFClose(tif);
        return false;
    }
    // Refused from the header, before anything is allocated.
    if (width == 0 || height == 0 || !FitsBitmapCap(width, height, 4)) {
        std::fprintf(stderr, "Error allocating TIFF RGBA memory!\n");
        TIFFClose(tif);
        return false;
    }
    bool ok = ReadRGBStripsIntoPicture(tif, path, width, height, keepAlpha, picture);
    if (!ok) {
        auto* raster =
            static_cast<std::uint32_t*>(_TIFFmalloc(static_cast<tmsize_t>(std::uint64_t{width} * height * 4)));
        if (!raster) {
            std::fprintf(stderr, "Error allocating TIFF RGBA memory!\n");
            TIFFClose(tif);
            return false;
        }
        // libtiff's RGBA raster is premultiplied.
        if (TIFFReadRGBAImageOriented(tif, width, height, raster, ORIENTATION_TOPLEFT, 1)) {
            picture->width = static_cast<int>(width);
            picture->height = static_cast<int>(height);
            picture->use_argb = 1;
            const int stride = static_cast<int>(width * 4);
            const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(raster);
            if (keepAlpha) {
                if (TIFFHasAlpha(tif)) UnpremultiplyRaster(raster, std::uint64_t{width} * height);
                ok = WebPPictureImportRGBA(picture, bytes, stride) != 0;
            } else {
                ok = WebPPictureImportRGBX(picture, bytes, stride) != 0;
            }
        }
        _TIFFfree(raster);
    }
    if (ok && metadata) {
        for (const TIFFMetadataTag& row : kTIFFMetadataTags) {
            std::uint32_t count = 0;
            void* data = nullptr;
            if (!TIFFGetField(tif, row.tag, &count, &data)) continue;
            if (!MetadataBlobCopy(static_cast<const std::uint8_t*>(data), count, &(metadata->*row.target))) {
                std::fprintf(stderr, "Error extracting TIFF metadata!\n");
                PictureMetadataFree(metadata);
                WebPPictureFree(picture);
                TIFFClose(tif);
                return false;
            }
        }
        toff_t exifOffset = 0;
        if (TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifOffset))
            std::fprintf(stderr, "Warning: EXIF extraction from TIFF is unsupported.\n");
    }
    TIFFClose(tif);
    return ok;
}

bool ReadPictureFile(const char* path, WebPPicture* picture, int keepAlpha, PictureMetadata* metadata) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "Error! Cannot open input file '%s'\n", path);
        return false;
    }
    bool ok = false;
    if (picture->width != 0 && picture->height != 0) {
        ok = ReadRawYUV(file, picture);
    } else {
        std::uint8_t head[4];
        if (std::fread(head, 1, 4, file) == 4 && std::fseek(file, 0, SEEK_SET) == 0) {
            const std::uint32_t signature = std::uint32_t{head[0]} << 24 | std::uint32_t{head[1]} << 16 |
                                            std::uint32_t{head[2]} << 8 | head[3];
            if (signature == 0x89504E47u)
                ok = ReadPNGPicture(file, picture, keepAlpha, metadata);
            else if ((signature >> 8) == 0xFFD8FFu)
                ok = ReadJPEGPicture(file, picture, metadata);
            else if (signature == 0x49492A00u || signature == 0x4D4D002Au)
                ok = ReadTIFFPicture(path, picture, keepAlpha, metadata);
        }
    }
    if (!ok) std::fprintf(stderr, "Error! Could not process file %s\n", path);
    std::fclose(file);
    return ok;
}

}  // namespace platform
