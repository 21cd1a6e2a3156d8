#include "platform/imageio/readers/WebPDecoder.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
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

// Whether the buffer suits the TIFF format: packed RGB or RGBA rows whose sizes its SHORT
// and LONG fields can hold.
bool FitsIntermediateTIFF(const WebPDecBuffer* buffer, std::uint32_t* samples) {
    const WEBP_CSP_MODE mode = buffer->colorspace;
    if (mode != MODE_RGB && mode != MODE_RGBA && mode != MODE_rgbA) return false;
    *samples = mode == MODE_RGB ? 3 : 4;
    if (!buffer->u.RGBA.rgba || buffer->width <= 0 || buffer->height <= 0) return false;
    if (buffer->width > 0xFFFF || buffer->height > 0xFFFF) return false;
    const std::uint64_t bytes = std::uint64_t(buffer->width) * std::uint64_t(buffer->height) * *samples;
    return bytes <= 0xFFFFFFFFu && buffer->u.RGBA.stride >= static_cast<int>(buffer->width * *samples);
}

void PrintAnimationMessage() {
    std::fprintf(stderr,
                 "Error! Decoding of an animated WebP file is not supported.\n"
                 "       Use webpmux to extract the individual frames or\n"
                 "       vwebp to view this image.\n");
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1000000.0; }

}  // namespace

void SetDecodedBufferVerbose(bool verbose) { verboseSave.store(verbose); }

bool SaveDecodedBuffer(const WebPDecBuffer* buffer, DecodedOutputFormat format, const char* path) {
    if (!buffer || !path) return false;
    const bool toStdout = std::strcmp(path, "-") == 0;
    // Only the TIFF is written here; every other code is refused before a file is made.
    if (format != kDecodedTIFF) {
        std::fprintf(stderr, "Error! Unknown output format %d\n", static_cast<int>(format));
        return false;
    }
    std::uint32_t samples = 0;
    if (!FitsIntermediateTIFF(buffer, &samples)) {
        std::fprintf(stderr, "Error! A %d x %d picture cannot be written as TIFF.\n", buffer->width, buffer->height);
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
    bool ok = WriteIntermediateTIFF(file, buffer, samples);
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
