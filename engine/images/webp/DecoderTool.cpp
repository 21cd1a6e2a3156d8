// The command-line WebP decoder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "engine/images/webp/ToolArguments.h"
#include "engine/images/webp/WebPTools.h"
#include "platform/imageio/readers/WebPDecoder.h"

// libwebp's processor-feature probe: exported by the library, declared in no public header.
extern "C" {
typedef int (*WebPProcessorProbe)(int feature);
extern WebPProcessorProbe VP8GetCPUInfo;
}

namespace {

using platform::DecodedOutputFormat;

const char kUsage[] =
    "Usage: dwebp in_file [options] [-o out_file]\n\n"
    "Decodes the WebP image file to PNG format [Default]\n"
    "Use the following options to choose another output format:\n"
    "  -pam ......... PAM: RGBA samples, with a header\n"
    "  -ppm ......... PPM: RGB samples\n"
    "  -bmp ......... BMP\n"
    "  -tiff ........ TIFF, uncompressed\n"
    "  -pgm ......... PGM: the Y plane, then the U and V planes side by side (and alpha)\n"
    "  -yuv ......... the raw Y, U and V planes (and alpha), without a header\n"
    "  -alpha ....... PGM of the alpha plane alone\n"
    " Other options are:\n"
    "  -version ..... print the decoder library's version and exit\n"
    "  -nofancy ..... upsample the chroma without smoothing\n"
    "  -nofilter .... skip the in-loop filtering\n"
    "  -nodither .... no dithering\n"
    "  -dither <d> .. dithering strength, 0 to 100\n"
    "  -mt .......... decode with threads\n"
    "  -crop <x> <y> <w> <h> ... decode only this rectangle\n"
    "  -scale <w> <h> .......... scale the picture (after any cropping) to this size\n"
    "  -incremental . decode through the incremental decoder\n"
    "  -v ........... verbose: the time of decoding and of writing\n"
    "  -noasm ....... use no processor-specific instructions\n"
    "  -h, -help .... this help\n"
    "  -- <file> .... the next argument is the input file, even when it begins with '-'\n"
    "  -o <file> .... the output file ('-' for standard output)\n";

const char* StatusName(int status) {
    static const char* const names[] = {"OK",        "OUT_OF_MEMORY", "INVALID_PARAM",  "BITSTREAM_ERROR",
                                        "UNSUPPORTED_FEATURE", "SUSPENDED", "USER_ABORT", "NOT_ENOUGH_DATA"};
    return status >= 0 && status < static_cast<int>(std::size(names)) ? names[status] : "UNKNOWN";
}

const char* StreamFormatName(int format) {
    static const char* const names[] = {"unspecified", "lossy", "lossless"};
    return format >= 0 && format < static_cast<int>(std::size(names)) ? names[format] : "unknown";
}


WEBP_CSP_MODE ModeFor(DecodedOutputFormat format, bool alpha) {
    switch (format) {
        case platform::kDecodedPNG: return alpha ? MODE_RGBA : MODE_RGB;
        case platform::kDecodedPAM: return MODE_RGBA;
        case platform::kDecodedPPM: return MODE_RGB;
        case platform::kDecodedPGM:
        case platform::kDecodedRawYUV: return alpha ? MODE_YUVA : MODE_YUV;
        case platform::kDecodedBMP: return alpha ? MODE_BGRA : MODE_BGR;
        case platform::kDecodedTIFF: return alpha ? MODE_rgbA : MODE_RGB;
        case platform::kDecodedAlphaPGM: return MODE_YUVA;
    }
    return MODE_RGB;
}

// The size the picture will have after cropping and scaling, and whether the output format's
// header can hold it: a size it cannot hold is refused before the picture is decoded, which for
// a large scale would take as many gigabytes as the file can never hold. A side the scaling
// leaves at 0 follows the aspect ratio, rounded down here: the saver checks the exact size again.
bool OutputSize(const WebPDecoderConfig& config, DecodedOutputFormat format, int* width, int* height) {
    std::int64_t w = config.input.width, h = config.input.height;
    const WebPDecoderOptions& o = config.options;
    if (o.use_cropping) {
        w = o.crop_width;
        h = o.crop_height;
    }
    if (o.use_scaling && w > 0 && h > 0) {
        const std::int64_t sw = o.scaled_width, sh = o.scaled_height;
        if (sw > 0 || sh > 0) {
            const std::int64_t nw = sw > 0 ? sw : w * sh / h, nh = sh > 0 ? sh : h * sw / w;
            w = nw;
            h = nh;
        }
    }
    // Sizes libwebp itself refuses are left to it.
    if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) return true;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return platform::DecodedSizeFits(format, config.output.colorspace, *width, *height);
}

}  // namespace

void DisableWebPProcessorFeatures() { VP8GetCPUInfo = nullptr; }

bool ReadWholeFile(const char* path, const std::uint8_t** data, std::size_t* size) {
    if (!path || !data || !size) return false;
    *data = nullptr;
    *size = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "cannot open input file '%s'\n", path);
        return false;
    }
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return false;
    }
    std::uint8_t* bytes = static_cast<std::uint8_t*>(std::malloc(length > 0 ? static_cast<std::size_t>(length) : 1));
    if (!bytes) {
        std::fclose(file);
        return false;
    }
    const std::size_t read = std::fread(bytes, 1, static_cast<std::size_t>(length), file);
    std::fclose(file);
    if (read != static_cast<std::size_t>(length)) {
        std::fprintf(stderr, "Could not read %d bytes of data from file %s\n", static_cast<int>(length), path);
        std::free(bytes);
        return false;
    }
    *data = bytes;
    *size = static_cast<std::size_t>(length);
    return true;
}

bool WriteWholeFile(const char* path, const std::uint8_t* data, std::size_t size) {
    if (!path || !data) return false;
    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "Error! Cannot open output file '%s'\n", path);
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

int DecoderToolMain(int argc, const char* const argv[]) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        std::fprintf(stderr, "Library version mismatch!\n");
        return -1;
    }
    const char* input = nullptr;
    const char* output = nullptr;
    DecodedOutputFormat format = platform::kDecodedPNG;
    bool incremental = false, verbose = false;
    webptools::ToolArguments args(argc, argv);
    while (args.Next()) {
        if (args.Is("-h") || args.Is("-help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (args.Is("-o", 1)) {
            output = args.Value();
        } else if (args.Is("-pam")) {
            format = platform::kDecodedPAM;
        } else if (args.Is("-ppm")) {
            format = platform::kDecodedPPM;
        } else if (args.Is("-bmp")) {
            format = platform::kDecodedBMP;
        } else if (args.Is("-tiff")) {
            format = platform::kDecodedTIFF;
        } else if (args.Is("-pgm")) {
            format = platform::kDecodedPGM;
        } else if (args.Is("-yuv")) {
            format = platform::kDecodedRawYUV;
        } else if (args.Is("-alpha")) {
            format = platform::kDecodedAlphaPGM;
        } else if (args.Is("-version")) {
            webptools::PrintPackedVersion(WebPGetDecoderVersion());
            return 0;
        } else if (args.Is("-nofancy")) {
            config.options.no_fancy_upsampling = 1;
        } else if (args.Is("-nofilter")) {
            config.options.bypass_filtering = 1;
        } else if (args.Is("-nodither")) {
            config.options.dithering_strength = 0;
        } else if (args.Is("-dither", 1)) {
            config.options.dithering_strength = args.Integer();
        } else if (args.Is("-mt")) {
            config.options.use_threads = 1;
        } else if (args.Is("-crop", 4)) {
            config.options.use_cropping = 1;
            config.options.crop_left = args.Integer();
            config.options.crop_top = args.Integer();
            config.options.crop_width = args.Integer();
            config.options.crop_height = args.Integer();
        } else if (args.Is("-scale", 2)) {
            config.options.use_scaling = 1;
            config.options.scaled_width = args.Integer();
            config.options.scaled_height = args.Integer();
        } else if (args.Is("-incremental")) {
            incremental = true;
        } else if (args.Is("-v")) {
            verbose = true;
            platform::SetDecodedBufferVerbose(true);
        } else if (args.Is("-noasm")) {
            DisableWebPProcessorFeatures();
        } else if (args.Is("--", 1)) {
            input = args.Value();
            break;
        } else if (args.Current()[0] == '-') {
            std::fprintf(stderr, "Unknown option '%s'\n", args.Current());
            std::fputs(kUsage, stdout);
            return -1;
        } else {
            input = args.Current();
        }
    }
    if (!input) {
        std::fprintf(stderr, "missing input file!!\n");
        std::fputs(kUsage, stdout);
        return -1;
    }
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!ReadWholeFile(input, &data, &size)) return -1;
    const double start = verbose ? webptools::ToolSeconds() : 0;

    VP8StatusCode status = WebPGetFeatures(data, size, &config.input);
    if (status == VP8_STATUS_OK) {
        if (config.input.has_animation)
            std::fprintf(stderr,
                         "Error! Decoding of an animated WebP file is not supported.\n"
                         "       Use webpmux to extract the individual frames or\n"
                         "       vwebp to view this image.\n");
        config.output.colorspace = ModeFor(format, config.input.has_alpha != 0);
        int width = 0, height = 0;
        if (output && !OutputSize(config, format, &width, &height)) {
            std::fprintf(stderr, "Error! A %d x %d picture cannot be written in this format.\n", width, height);
            std::free(const_cast<std::uint8_t*>(data));
            return -1;
        }
        if (incremental) {
            WebPIDecoder* decoder = WebPIDecode(data, size, &config);
            if (!decoder) {
                std::fprintf(stderr, "Failed during WebPINewDecoder().\n");
                status = VP8_STATUS_OUT_OF_MEMORY;
            } else {
                status = WebPIUpdate(decoder, data, size);
                WebPIDelete(decoder);
            }
        } else {
            status = WebPDecode(data, size, &config);
        }
        if (verbose) std::fprintf(stderr, "Time to decode picture: %.3fs\n", webptools::ToolSeconds() - start);
    }
    std::free(const_cast<std::uint8_t*>(data));

    int result = 0;
    if (status != VP8_STATUS_OK) {
        std::fprintf(stderr, "Decoding of %s failed.\n", input);
        std::fprintf(stderr, "Status: %d (%s)\n", static_cast<int>(status), StatusName(status));
        result = -1;
    } else if (output) {
        std::fprintf(stderr, "Decoded %s. Dimensions: %d x %d %s. Format: %s. Now saving...\n", input,
                     config.output.width, config.output.height, config.input.has_alpha ? " (with alpha)" : "",
                     StreamFormatName(config.input.format));
        result = platform::SaveDecodedBuffer(&config.output, format, output) ? 0 : -1;
    } else {
        std::fprintf(stderr, "File %s can be decoded (dimensions: %d x %d %s. Format: %s).\n", input,
                     config.output.width, config.output.height, config.input.has_alpha ? " (with alpha)" : "",
                     StreamFormatName(config.input.format));
        std::fprintf(stderr, "Nothing written; use -o flag to save the result as e.g. PNG.\n");
    }
    WebPFreeDecBuffer(&config.output);
    return result;
}
