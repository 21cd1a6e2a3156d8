#include "platform/imageio/readers/WebPDecoder.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <png.h>

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

std::atomic<bool> verboseSave{false};

void PutLE16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLE32(std::uint8_t* p, std::uint32_t v) {
    PutLE16(p, v);
    PutLE16(p + 2, v >> 16);
}

// The intermediate TIFF's header: one directory of SHORT, LONG and RATIONAL entries, the
// BitsPerSample values at 194 and the resolution 72/1 at 202. Three samples a pixel write 14
// entries, the ExtraSamples entry's place then holding the end of the directory.
void MakeIntermediateTIFFHeader(std::uint8_t (&h)[kIntermediateTIFFHeader], std::uint32_t width,
                                std::uint32_t height, std::uint32_t samples) {
    std::memset(h, 0, sizeof h);
    std::memcpy(h, "II*\0", 4);
    PutLE32(h + 4, 8);
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    const Entry entries[] = {
        {256, 3, 1, width},   {257, 3, 1, height},  {258, 3, samples, 194},
        {259, 3, 1, 1},       {262, 3, 1, 2},       {273, 4, 1, static_cast<std::uint32_t>(kIntermediateTIFFHeader)},
        {274, 3, 1, 1},       {277, 3, 1, samples}, {278, 3, 1, height},
        {279, 4, 1, width * height * samples},      {282, 5, 1, 202},
        {283, 5, 1, 202},     {284, 3, 1, 1},       {296, 3, 1, 2},
        {338, 3, 1, 1},
    };
    std::uint8_t* p = h + 10;
    for (const Entry& e : entries) {
        PutLE16(p, e.tag);
        PutLE16(p + 2, e.type);
        PutLE32(p + 4, e.count);
        PutLE32(p + 8, e.value);
        p += 12;
    }
    const std::uint32_t count = samples == 4 ? 15 : 14;
    PutLE16(h + 8, count);
    PutLE32(h + 10 + 12 * count, 0);  // no further directory
    for (int i = 0; i < 4; ++i) PutLE16(h + 194 + 2 * i, 8);
    PutLE32(h + 202, 72);
    PutLE32(h + 206, 1);
}

bool WriteIntermediateTIFF(std::FILE* file, const WebPDecBuffer* buffer, std::uint32_t samples) {
    const WebPRGBABuffer& rgba = buffer->u.RGBA;
    std::uint8_t header[kIntermediateTIFFHeader];
    MakeIntermediateTIFFHeader(header, static_cast<std::uint32_t>(buffer->width),
                               static_cast<std::uint32_t>(buffer->height), samples);
    if (std::fwrite(header, 1, sizeof header, file) != sizeof header) return false;
    const std::size_t row = static_cast<std::size_t>(buffer->width) * samples;
    for (int y = 0; y < buffer->height; ++y)
        if (std::fwrite(rgba.rgba + static_cast<std::ptrdiff_t>(y) * rgba.stride, 1, row, file) != row) return false;
    return true;
}

bool Put(std::FILE* file, const void* bytes, std::size_t size) {
    return size == 0 || std::fwrite(bytes, 1, size, file) == size;
}

bool PutRows(std::FILE* file, const std::uint8_t* rows, int stride, std::size_t rowBytes, int count,
             std::size_t padding = 0) {
    static const std::uint8_t zeros[4] = {};
    for (int y = 0; y < count; ++y)
        if (!Put(file, rows + static_cast<std::ptrdiff_t>(y) * stride, rowBytes) || !Put(file, zeros, padding))
            return false;
    return true;
}

bool PutText(std::FILE* file, const char* format, long a, long b) { return std::fprintf(file, format, a, b) > 0; }

// PNG: libpng ends a failed write with a longjmp back here; no object with a destructor lives in
// this frame.
void PNGWriteErrorExit(png_structp png, png_const_charp message) {
    if (message) std::fprintf(stderr, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

bool WritePNG(std::FILE* file, const WebPDecBuffer* buffer) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PNGWriteErrorExit, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const bool alpha = buffer->colorspace == MODE_RGBA;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(buffer->width), static_cast<png_uint_32>(buffer->height), 8,
                 alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < buffer->height; ++y) {
        png_bytep row = buffer->u.RGBA.rgba + static_cast<std::ptrdiff_t>(y) * buffer->u.RGBA.stride;
        png_write_rows(png, &row, 1);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool WritePNM(std::FILE* file, const WebPDecBuffer* buffer, bool withAlpha) {
    const WebPRGBABuffer& rgba = buffer->u.RGBA;
    const bool header = withAlpha ? PutText(file, "P7\nWIDTH %ld\nHEIGHT %ld\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                                            buffer->width, buffer->height)
                                  : PutText(file, "P6\n%ld %ld\n255\n", buffer->width, buffer->height);
    return header && PutRows(file, rgba.rgba, rgba.stride, static_cast<std::size_t>(buffer->width) * (withAlpha ? 4 : 3),
                             buffer->height);
}

bool WriteYUVPlanesAsPGM(std::FILE* file, const WebPDecBuffer* buffer) {
    const WebPYUVABuffer& yuv = buffer->u.YUVA;
    const int w = buffer->width, h = buffer->height, uvWidth = (w + 1) / 2, uvHeight = (h + 1) / 2;
    const bool alpha = yuv.a != nullptr;
    const std::size_t pad = w & 1;
    if (!PutText(file, "P5\n%ld %ld\n255\n", (w + 1) & ~1, h + uvHeight + (alpha ? h : 0))) return false;
    if (!PutRows(file, yuv.y, yuv.y_stride, static_cast<std::size_t>(w), h, pad)) return false;
    for (int y = 0; y < uvHeight; ++y)
        if (!Put(file, yuv.u + static_cast<std::ptrdiff_t>(y) * yuv.u_stride, static_cast<std::size_t>(uvWidth)) ||
            !Put(file, yuv.v + static_cast<std::ptrdiff_t>(y) * yuv.v_stride, static_cast<std::size_t>(uvWidth)))
            return false;
    return !alpha || PutRows(file, yuv.a, yuv.a_stride, static_cast<std::size_t>(w), h, pad);
}

bool WriteBMP(std::FILE* file, const WebPDecBuffer* buffer) {
    const std::uint32_t b = buffer->colorspace == MODE_BGR ? 3 : 4;
    const std::uint32_t w = static_cast<std::uint32_t>(buffer->width), h = static_cast<std::uint32_t>(buffer->height);
    const std::uint32_t rowSize = (w * b + 3) & ~3u;
    std::uint8_t header[54] = {'B', 'M'};
    PutLE32(header + 2, rowSize * h + 54);
    PutLE32(header + 10, 54);
    PutLE32(header + 14, 40);
    PutLE32(header + 18, w);
    PutLE32(header + 22, static_cast<std::uint32_t>(-static_cast<std::int32_t>(h)));
    PutLE16(header + 26, 1);
    PutLE16(header + 28, b * 8);
    PutLE32(header + 38, 2400);
    PutLE32(header + 42, 2400);
    return Put(file, header, sizeof header) &&
           PutRows(file, buffer->u.RGBA.rgba, buffer->u.RGBA.stride, std::size_t{w} * b, buffer->height, rowSize - w * b);
}

bool WriteRawYUV(std::FILE* file, const WebPDecBuffer* buffer) {
    const WebPYUVABuffer& yuv = buffer->u.YUVA;
    const int w = buffer->width, h = buffer->height, uvWidth = (w + 1) / 2, uvHeight = (h + 1) / 2;
    return PutRows(file, yuv.y, yuv.y_stride, static_cast<std::size_t>(w), h) &&
           PutRows(file, yuv.u, yuv.u_stride, static_cast<std::size_t>(uvWidth), uvHeight) &&
           PutRows(file, yuv.v, yuv.v_stride, static_cast<std::size_t>(uvWidth), uvHeight) &&
           (!yuv.a || PutRows(file, yuv.a, yuv.a_stride, static_cast<std::size_t>(w), h));
}

bool WriteAlphaPGM(std::FILE* file, const WebPDecBuffer* buffer) {
    const WebPYUVABuffer& yuv = buffer->u.YUVA;
    return PutText(file, "P5\n%ld %ld\n255\n", buffer->width, buffer->height) &&
           PutRows(file, yuv.a, yuv.a_stride, static_cast<std::size_t>(buffer->width), buffer->height);
}

// Whether the buffer's colour mode suits the format and its size the format's header fields:
// checked before a file is made.
bool Suits(const WebPDecBuffer* buffer, DecodedOutputFormat format) {
    const WEBP_CSP_MODE mode = buffer->colorspace;
    const bool rgb = WebPIsRGBMode(mode) && buffer->u.RGBA.rgba;
    const bool yuv = (mode == MODE_YUV || mode == MODE_YUVA) && buffer->u.YUVA.y && buffer->u.YUVA.u && buffer->u.YUVA.v;
    bool planes = false;
    switch (format) {
        case kDecodedPNG: planes = rgb && (mode == MODE_RGB || mode == MODE_RGBA); break;
        case kDecodedPAM: planes = rgb && (mode == MODE_RGBA || mode == MODE_rgbA); break;
        case kDecodedPPM: planes = rgb && mode == MODE_RGB; break;
        case kDecodedPGM:
        case kDecodedRawYUV: planes = yuv; break;
        case kDecodedAlphaPGM: planes = yuv && buffer->u.YUVA.a; break;
        case kDecodedBMP: planes = rgb && (mode == MODE_BGR || mode == MODE_BGRA); break;
        case kDecodedTIFF: planes = rgb && (mode == MODE_RGB || mode == MODE_RGBA || mode == MODE_rgbA); break;
    }
    return planes && DecodedSizeFits(format, mode, buffer->width, buffer->height);
}

bool WriteFormat(std::FILE* file, const WebPDecBuffer* buffer, DecodedOutputFormat format) {
    switch (format) {
        case kDecodedPNG: return WritePNG(file, buffer);
        case kDecodedPAM: return WritePNM(file, buffer, true);
        case kDecodedPPM: return WritePNM(file, buffer, false);
        case kDecodedPGM: return WriteYUVPlanesAsPGM(file, buffer);
        case kDecodedBMP: return WriteBMP(file, buffer);
        case kDecodedTIFF: return WriteIntermediateTIFF(file, buffer, buffer->colorspace == MODE_RGB ? 3 : 4);
        case kDecodedRawYUV: return WriteRawYUV(file, buffer);
        case kDecodedAlphaPGM: return WriteAlphaPGM(file, buffer);
    }
    return false;
}

void PrintAnimationMessage() {
    std::fprintf(stderr,
                 "Error! Decoding of an animated WebP file is not supported.\n"
                 "       Use webpmux to extract the individual frames or\n"
                 "       vwebp to view this image.\n");
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1000000.0; }

}  // namespace

bool DecodedSizeFits(DecodedOutputFormat format, WEBP_CSP_MODE mode, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    const std::uint64_t w = static_cast<std::uint64_t>(width), h = static_cast<std::uint64_t>(height);
    switch (format) {
        case kDecodedBMP: {
            const std::uint64_t row = (w * (mode == MODE_BGR ? 3 : 4) + 3) & ~std::uint64_t{3};
            return row * h + 54 <= 0xFFFFFFFFu;
        }
        case kDecodedTIFF: return w <= 0xFFFF && h <= 0xFFFF && w * h * (mode == MODE_RGB ? 3 : 4) <= 0xFFFFFFFFu;
        default: return true;
    }
}

void SetDecodedBufferVerbose(bool verbose) { verboseSave.store(verbose); }

bool SaveDecodedBuffer(const WebPDecBuffer* buffer, DecodedOutputFormat format, const char* path) {
    if (!buffer || !path) return false;
    const bool toStdout = std::strcmp(path, "-") == 0;
    if (format < kDecodedPNG || format > kDecodedAlphaPGM) {
        std::fprintf(stderr, "Error! Unknown output format %d\n", static_cast<int>(format));
        return false;
    }
    if (!Suits(buffer, format)) {
        std::fprintf(stderr, "Error! A %d x %d picture cannot be written in this format.\n", buffer->width,
                     buffer->height);
        return false;
    }
    std::FILE* file = toStdout ? stdout : std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "Error opening output file %s\n", path);
        return false;
    }
    timeval start{};
    const bool verbose = verboseSave.load();
    if (verbose) gettimeofday(&start, nullptr);
    bool ok = WriteFormat(file, buffer, format);
    if (toStdout) {
        ok = std::fflush(file) == 0 && ok;
    } else {
        // A partial file is removed, but never what is not a plain file (a device, a pipe).
        struct stat st {};
        const bool regular = ::fstat(::fileno(file), &st) == 0 && S_ISREG(st.st_mode);
        ok = std::fclose(file) == 0 && ok;
        if (!ok && regular) ::unlink(path);
    }
    if (ok) {
        if (toStdout)
            std::fprintf(stderr, "Saved to stdout\n");
        else
            std::fprintf(stderr, "Saved file %s\n", path);
        if (verbose) {
            timeval end{};
            gettimeofday(&end, nullptr);
            std::fprintf(stderr, "Time to write output: %.3fs\n", Seconds(end) - Seconds(start));
        }
    } else if (toStdout) {
        std::fprintf(stderr, "Error writing to stdout !!\n");
    } else {
        std::fprintf(stderr, "Error writing file %s !!\n", path);
    }
    return ok;
}

int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config, const char* tiffPath) {
    if (!data || !config || WebPGetFeatures(data, size, &config->input) != VP8_STATUS_OK) return kWebPNoFeatures;
    const bool animated = config->input.has_animation != 0;
    if (animated) PrintAnimationMessage();
    config->output.colorspace = config->input.has_alpha ? MODE_rgbA : MODE_RGB;
    int result = kWebPDecodeDone;
    if (WebPDecode(data, size, config) != VP8_STATUS_OK)
        result = animated ? kWebPAnimated : kWebPDecodeFailed;
    else if (tiffPath && !SaveDecodedBuffer(&config->output, kDecodedTIFF, tiffPath))
        result = kWebPWriteFailed;
    WebPFreeDecBuffer(&config->output);
    return result;
}

int DecodeWebPToRGBA(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config) {
    if (!data || !config || WebPGetFeatures(data, size, &config->input) != VP8_STATUS_OK) return kWebPNoFeatures;
    if (config->input.has_animation) PrintAnimationMessage();
    config->output.colorspace = MODE_RGBA;
    WebPDecode(data, size, config);
    return kWebPDecodeDone;
}

int GetWebPDimensions(const std::uint8_t* data, std::size_t size, int* width, int* height) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return kWebPNoDecoderConfig;
    if (!data || WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK) return kWebPNoFeatures;
    if (width) *width = config.input.width;
    if (height) *height = config.input.height;
    return kWebPDecodeDone;
}

}  // namespace platform
