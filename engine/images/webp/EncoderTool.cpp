// The command-line WebP encoder.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <vector>

#include "engine/OutputFile.h"
#include "engine/images/webp/ToolArguments.h"
#include "engine/images/webp/WebPTools.h"
#include "platform/imageio/encoders/WebPEncoder.h"
#include "platform/imageio/readers/PictureReaders.h"

namespace {

using platform::KeepMetadataBits;
using webptools::ToolSeconds;

// The encoder's verbose switch: once set, it stays set for the rest of the process.
std::atomic<bool> encoderVerbose{false};

constexpr float kNoDistortion = 99.f;  // the figure of identical planes, in dB

const char* EncodingErrorText(int code) {
    static const char* const texts[] = {
        "OK",
        "OUT_OF_MEMORY: Out of memory allocating objects",
        "BITSTREAM_OUT_OF_MEMORY: Out of memory re-allocating byte buffer",
        "NULL_PARAMETER: NULL parameter passed to function",
        "INVALID_CONFIGURATION: configuration is invalid",
        "BAD_DIMENSION: Bad picture dimension. Maximum width and height allowed is 16383 pixels.",
        "PARTITION0_OVERFLOW: Partition #0 is too big to fit 512k.\n"
        "To reduce the size of this partition, try using less segments with the -segments option, and eventually "
        "reduce the number of header bits using -partition_limit. More details are available in the manual (`man "
        "cwebp`)",
        "PARTITION_OVERFLOW: Partition is too big to fit 16M",
        "BAD_WRITE: Picture writer returned an I/O error",
        "FILE_TOO_BIG: File would be too big to fit in 4G",
        "USER_ABORT: encoding abort requested by user",
    };
    return code >= 0 && code < static_cast<int>(std::size(texts)) ? texts[code] : "UNKNOWN: unknown error";
}

void PrintEncodingError(int code) {
    std::fprintf(stderr, "Error! Cannot encode picture as WebP\n");
    std::fprintf(stderr, "Error code: %d (%s)\n", code, EncodingErrorText(code));
}

// One side of a picture resized to `side` × `other` (a 0 follows the aspect ratio of the
// `from` × `fromOther` picture), rounded down.
std::int64_t ResizedSide(int side, int other, int from, int fromOther) {
    if (side > 0) return side;
    if (other <= 0 || fromOther <= 0) return from;
    return static_cast<std::int64_t>(from) * other / fromOther;
}

// ---------------------------------------------------------------------------------------------
// Output files

// A file the encoder writes: under a temporary name in the destination's folder, given the
// destination's name only once it is complete, so that a failed encoding never leaves an empty
// or truncated file where the user's file was. A destination that exists and is not a plain file
// (a device, a pipe) is written directly.
class ToolOutput {
public:
    ToolOutput() = default;
    ToolOutput(const ToolOutput&) = delete;
    ToolOutput& operator=(const ToolOutput&) = delete;
    ~ToolOutput() {
        if (file_) std::fclose(file_);
    }

    bool Open(const char* path) {
        struct stat st {};
        if (::stat(path, &st) == 0) {
            if (!S_ISREG(st.st_mode)) {
                file_ = std::fopen(path, "wb");
                return file_ != nullptr;
            }
            // A file the user may not write is not replaced behind their back.
            if (::access(path, W_OK) != 0) return false;
            attributes_ = FileAttributes{static_cast<std::filesystem::perms>(st.st_mode & 07777)};
        }
        std::optional<PendingFile> created = PendingFile::Create(path);
        if (!created) return false;
        pending_.emplace(std::move(*created));
        const int fd = ::dup(pending_->descriptor());
        if (fd < 0 || !(file_ = ::fdopen(fd, "wb"))) {
            if (fd >= 0) ::close(fd);
            pending_.reset();
            return false;
        }
        return true;
    }
    std::FILE* file() const { return file_; }
    // Flushes and closes the file and, for a plain file, gives it its name.
    bool Finish() {
        if (!file_) return false;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!pending_) return closed;
        if (!closed) {
            pending_.reset();
            return false;
        }
        const bool named = pending_->Commit(true, attributes_);
        pending_.reset();
        return named;
    }

private:
    std::optional<PendingFile> pending_;
    std::optional<FileAttributes> attributes_;
    std::FILE* file_ = nullptr;
};

// The picture writer of a file written as the encoder streams it.
int WriteChunkToFile(const std::uint8_t* data, std::size_t size, const WebPPicture* picture) {
    if (size == 0) return 1;
    auto* file = static_cast<std::FILE*>(picture->custom_ptr);
    return std::fwrite(data, 1, size, file) == size ? 1 : 0;
}

// The picture's progress hook: the input file's name and the percentage, on one line that each
// report overwrites.
int PrintEncodeProgress(int percent, const WebPPicture* picture) {
    std::printf("[%s]: %3d %%      \r", static_cast<const char*>(picture->user_data), percent);
    std::fflush(stdout);
    return 1;
}

// The reconstructed picture as a PGM: the Y rows, then the U and V rows side by side, then the
// alpha rows when the picture has transparency; odd widths padded with a zero byte.
bool DumpPicture(const WebPPicture& picture, const char* path) {
    if (picture.use_argb || !picture.y || !picture.u || !picture.v) return false;
    const int w = picture.width, h = picture.height;
    const int uvWidth = (w + 1) / 2, uvHeight = (h + 1) / 2;
    const int alphaRows = WebPPictureHasTransparency(&picture) && picture.a ? h : 0;
    const int rowBytes = (w + 1) & ~1;
    char head[64];
    const int headSize = std::snprintf(head, sizeof head, "P5\n%d %d\n255\n", rowBytes, h + uvHeight + alphaRows);
    std::vector<std::uint8_t> bytes(head, head + headSize);
    bytes.reserve(bytes.size() + static_cast<std::size_t>(rowBytes) * (h + uvHeight + alphaRows));
    const auto putRows = [&](const std::uint8_t* plane, int stride, int rows) {
        for (int y = 0; y < rows; ++y) {
            const std::uint8_t* row = plane + static_cast<std::ptrdiff_t>(y) * stride;
            bytes.insert(bytes.end(), row, row + w);
            if (w & 1) bytes.push_back(0);
        }
    };
    putRows(picture.y, picture.y_stride, h);
    for (int y = 0; y < uvHeight; ++y) {
        const std::uint8_t* u = picture.u + static_cast<std::ptrdiff_t>(y) * picture.uv_stride;
        const std::uint8_t* v = picture.v + static_cast<std::ptrdiff_t>(y) * picture.uv_stride;
        bytes.insert(bytes.end(), u, u + uvWidth);
        bytes.insert(bytes.end(), v, v + uvWidth);
    }
    if (alphaRows) putRows(picture.a, picture.a_stride, h);
    ToolOutput out;
    return out.Open(path) && std::fwrite(bytes.data(), 1, bytes.size(), out.file()) == bytes.size() && out.Finish();
}

// ---------------------------------------------------------------------------------------------
// Distortion

double PeakSignalToNoise(double sum, double samples) {
    return sum > 0 && samples > 0 ? 10.0 * std::log10(samples * 255.0 * 255.0 / sum) : kNoDistortion;
}
double LogStructuralSimilarity(double sum, double samples) {
    const double mean = samples > 0 ? sum / samples : 1.0;
    return mean < 1.0 ? -10.0 * std::log10(1.0 - mean) : kNoDistortion;
}

// Y, U, V, A and the total of two YUV(A) pictures of one size, plane by plane (U and V at half
// size, rounded up); the total from the planes' raw sums. A is the figure of no distortion when
// neither picture has an alpha plane.
bool MeasureYUVADistortion(const WebPPicture& source, const WebPPicture& reference, int type, float result[5]) {
    if (source.use_argb || reference.use_argb || source.width != reference.width ||
        source.height != reference.height || !source.y || !reference.y || !source.u || !reference.u || !source.v ||
        !reference.v || (source.a == nullptr) != (reference.a == nullptr))
        return false;
    const int w = source.width, h = source.height, uvWidth = (w + 1) / 2, uvHeight = (h + 1) / 2;
    struct Plane {
        const std::uint8_t *a, *b;
        int strideA, strideB, width, height;
    };
    const Plane planes[] = {{source.y, reference.y, source.y_stride, reference.y_stride, w, h},
                            {source.u, reference.u, source.uv_stride, reference.uv_stride, uvWidth, uvHeight},
                            {source.v, reference.v, source.uv_stride, reference.uv_stride, uvWidth, uvHeight},
                            {source.a, reference.a, source.a_stride, reference.a_stride, w, h}};
    double sum = 0, samples = 0;
    result[3] = kNoDistortion;
    for (int i = 0; i < 4; ++i) {
        const Plane& p = planes[i];
        if (!p.a) continue;
        float raw = 0, figure = 0;
        if (!WebPPlaneDistortion(p.a, static_cast<std::size_t>(p.strideA), p.b, static_cast<std::size_t>(p.strideB),
                                 p.width, p.height, 1, type, &raw, &figure))
            return false;
        result[i] = figure;
        sum += raw;
        samples += static_cast<double>(p.width) * p.height;
    }
    result[4] = static_cast<float>(type == 1 ? LogStructuralSimilarity(sum, samples) : PeakSignalToNoise(sum, samples));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Statistics

void PrintStatRow(const int values[4], int codedSize, int* totals) {
    int sum = 0;
    for (int i = 0; i < 4; ++i) {
        std::fprintf(stderr, "| %7d ", values[i]);
        sum += values[i];
        if (totals) totals[i] += values[i];
    }
    std::fprintf(stderr, "| %7d  (%.1f%%)\n", sum, codedSize > 0 ? 100.f * sum / codedSize : 0.f);
}

void PrintStatValues(const int values[4]) {
    for (int i = 0; i < 4; ++i) std::fprintf(stderr, "| %7d ", values[i]);
    std::fprintf(stderr, "|\n");
}

void PrintLosslessStats(const WebPAuxStats& stats, const char* label) {
    std::fprintf(stderr, "Lossless-%s compressed size: %d bytes\n", label, stats.lossless_size);
    if (stats.lossless_features) {
        std::fprintf(stderr, "  * Lossless features used:");
        if (stats.lossless_features & 1) std::fprintf(stderr, " PREDICTION");
        if (stats.lossless_features & 2) std::fprintf(stderr, " CROSS-COLOR-TRANSFORM");
        if (stats.lossless_features & 4) std::fprintf(stderr, " SUBTRACT-GREEN");
        if (stats.lossless_features & 8) std::fprintf(stderr, " PALETTE");
        std::fprintf(stderr, "\n");
    }
    std::fprintf(stderr, "  * Precision Bits: histogram=%d transform=%d cache=%d\n", stats.histogram_bits,
                 stats.transform_bits, stats.cache_bits);
    if (stats.palette_size > 0) std::fprintf(stderr, "  * Palette size:   %d\n", stats.palette_size);
}

double Percent(double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

void PrintLossyStats(const WebPAuxStats& stats, const WebPPicture& picture, const char* input, bool detailed,
                     bool alphaLossless) {
    const int size = stats.coded_size;
    std::fprintf(stderr, "File:      %s\n", input);
    std::fprintf(stderr, "Dimension: %d x %d%s\n", picture.width, picture.height,
                 stats.alpha_data_size > 0 ? " (with alpha)" : "");
    std::fprintf(stderr, "Output:    %d bytes Y-U-V-All-PSNR %2.2f %2.2f %2.2f   %2.2f dB\n", size, stats.PSNR[0],
                 stats.PSNR[1], stats.PSNR[2], stats.PSNR[3]);
    const int intra4 = stats.block_count[0], intra16 = stats.block_count[1], skipped = stats.block_count[2];
    const int blocks = intra4 + intra16;
    if (blocks > 0) {
        std::fprintf(stderr, "block count:  intra4: %d\n              intra16: %d  (-> %.2f%%)\n", intra4, intra16,
                     Percent(intra16, blocks));
        std::fprintf(stderr, "              skipped block: %d (%.2f%%)\n", skipped, Percent(skipped, blocks));
        std::fprintf(stderr,
                     "bytes used:  header:         %6d  (%.1f%%)\n             mode-partition: %6d  (%.1f%%)\n",
                     stats.header_bytes[0], Percent(stats.header_bytes[0], size), stats.header_bytes[1],
                     Percent(stats.header_bytes[1], size));
        if (stats.alpha_data_size > 0)
            std::fprintf(stderr, "             transparency:   %6d (%.1f dB)\n", stats.alpha_data_size, stats.PSNR[4]);
        if (stats.layer_data_size > 0) std::fprintf(stderr, "             enhancement:    %6d\n", stats.layer_data_size);
        std::fprintf(stderr, " Residuals bytes  |segment 1|segment 2|segment 3|segment 4|  total\n");
        int totals[4] = {0, 0, 0, 0};
        if (detailed) {
            std::fprintf(stderr, "  intra4-coeffs:  ");
            PrintStatRow(stats.residual_bytes[0], size, totals);
            std::fprintf(stderr, " intra16-coeffs:  ");
            PrintStatRow(stats.residual_bytes[1], size, totals);
            std::fprintf(stderr, "  chroma coeffs:  ");
            PrintStatRow(stats.residual_bytes[2], size, totals);
        }
        std::fprintf(stderr, "    macroblocks:  ");
        for (int i = 0; i < 4; ++i)
            std::fprintf(stderr, "|      %2d%%", static_cast<int>(Percent(stats.segment_size[i], blocks)));
        std::fprintf(stderr, "| %7d\n", blocks);
        std::fprintf(stderr, "      quantizer:  ");
        PrintStatValues(stats.segment_quant);
        std::fprintf(stderr, "   filter level:  ");
        PrintStatValues(stats.segment_level);
        if (detailed) {
            std::fprintf(stderr, "------------------+---------");
            std::fprintf(stderr, "+---------+---------+---------+-----------------\n");
            std::fprintf(stderr, " segments total:  ");
            PrintStatRow(totals, size, nullptr);
        }
    }
    if (alphaLossless && stats.lossless_size > 0) PrintLosslessStats(stats, "alpha");
}

// The extra-information map, one line per macroblock row.
void PrintMap(const WebPPicture& picture, const std::uint8_t* map) {
    const int type = picture.extra_info_type;
    const int columns = (picture.width + 15) / 16, rows = (picture.height + 15) / 16;
    static const char kSegments[] = ".-*X";
    static const char kIntraTypes[] = "+.";
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            const int value = map[y * columns + x];
            switch (type) {
                case 1: std::printf("%c", value < 2 ? kIntraTypes[value] : '?'); break;
                case 2: std::printf("%c", value < 4 ? kSegments[value] : '?'); break;
                case 3: std::printf("%.2d ", value); break;
                case 6:
                case 7: std::printf("%3d ", value); break;
                default: std::printf("0x%.2x ", value); break;
            }
        }
        std::printf("\n");
    }
}

// ---------------------------------------------------------------------------------------------
// Help

void PrintEncoderShortHelp() {
    std::puts("Usage:\n");
    std::puts("   cwebp [options] -q quality input.png -o output.webp\n");
    std::puts("where quality is between 0 (poor) to 100 (very good).");
    std::puts("Typical value is around 80.\n");
    std::puts("Try -longhelp for an exhaustive list of advanced options.");
}

void PrintEncoderLongHelp() {
    std::puts("Usage:");
    std::puts(" cwebp [-preset <...>] [options] in_file [-o out_file]\n");
    std::puts("If input size (-s) for an image is not specified, it is assumed to be a PNG, JPEG or TIFF file.");
    std::puts("options:");
    std::puts("  -h / -help ............. the short help");
    std::puts("  -H / -longhelp ......... this list of every option");
    std::puts("  -q <float> ............. quality factor (0:small..100:big)");
    std::puts("  -alpha_q <int> ......... quality of the alpha plane, 0 to 100");
    std::puts("  -preset <string> ....... start from the settings made for: default,");
    std::puts("                           photo, picture, drawing, icon or text");
    std::puts("     -preset must come first, as it overwrites other parameters.");
    std::puts("  -m <int> ............... effort, 0 (fastest) to 6 (smallest file)");
    std::puts("  -segments <int> ........ how many segments, 1 to 4");
    std::puts("  -size <int> ............ aim at this file size, in bytes");
    std::puts("  -psnr <float> .......... aim at this PSNR, in dB");
    std::puts("");
    std::puts("  -s <int> <int> ......... the input is raw YUV 4:2:0 of this width and height");
    std::puts("  -sns <int> ............. spatial noise shaping strength, 0 (none) to 100");
    std::puts("  -f <int> ............... deblocking filter strength, 0 (none) to 100");
    std::puts("  -sharpness <int> ....... filter sharpness, 0 (sharpest) to 7");
    std::puts("  -strong ................ the strong deblocking filter");
    std::puts("  -nostrong .............. the simple deblocking filter");
    std::puts("  -partition_limit <int> . give up quality, 0 (none) to 100, to keep the");
    std::puts("                           first partition within its 512 KB");
    std::puts("  -pass <int> ............ analysis passes, 1 to 10");
    std::puts("  -crop <x> <y> <w> <h> .. keep only this rectangle of the picture");
    std::puts("  -resize <w> <h> ........ scale the picture (after any crop); a 0 keeps the aspect");
    std::puts("  -mt .................... encode on several threads");
    std::puts("  -low_memory ............ use less memory, at some cost in time");
    std::puts("  -map <int> ............. print a map of one value per macroblock");
    std::puts("  -print_psnr ............ print the PSNR of the Y, U, V and alpha planes");
    std::puts("  -print_ssim ............ print the SSIM of the Y, U, V and alpha planes");
    std::puts("  -print_lsim ............ print the local similarity of the planes");
    std::puts("  -d <file.pgm> .......... write the decoded planes as a PGM file");
    std::puts("  -alpha_method <int> .... alpha plane compression, 0 (none) or 1");
    std::puts("  -alpha_filter <string> . alpha plane prediction: none, fast or best");
    std::puts("  -alpha_cleanup ......... flatten the colour under fully transparent pixels");
    std::puts("  -blend_alpha <hex> ..... lay the picture over this background colour,");
    std::puts("                           RGB in hexadecimal, e.g. 0xc0e0d0");
    std::puts("  -noalpha ............... drop the alpha channel");
    std::puts("  -lossless .............. encode without loss");
    std::puts("  -hint <string> ......... what the picture is: photo, picture or graph");
    std::puts("");
    std::puts("  -metadata <string> ..... comma-separated list of the metadata to carry");
    std::puts("                           over from the input, when it has them.");
    std::puts("                           Valid values: all, none (default), exif, icc, xmp");
    std::puts("");
    std::puts("  -short ................. print a condensed report");
    std::puts("  -quiet ................. print nothing");
    std::puts("  -version ............... print the library's version and stop");
    std::puts("  -noasm ................. use no processor-specific instructions");
    std::puts("  -v ..................... print the times of reading and encoding");
    std::puts("  -progress .............. print the progress of the encoding");
    std::puts("");
    std::puts("Experimental Options:");
    std::puts("  -jpeg_like ............. aim at the file size a JPEG file would have");
    std::puts("  -af .................... choose the filter strength automatically");
    std::puts("  -pre <int> ............. pre-processing of the picture");
    std::puts("");
}

// ---------------------------------------------------------------------------------------------
// Options

// The switches of one run.
struct EncoderRun {
    WebPConfig config;
    const char* input = nullptr;
    const char* output = nullptr;
    const char* dump = nullptr;
    int keepAlpha = 1;
    bool blend = false;
    std::uint32_t background = 0xFFFFFF;
    bool crop = false;
    int cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;
    int resizeWidth = 0, resizeHeight = 0;
    int distortion = -1;
    KeepMetadataBits keepMetadata = 0;
    int shortOutput = 0;
    bool quiet = false;
    bool progress = false;
    bool detailedStats = false;
    int mapType = 0;
    int rawWidth = 0, rawHeight = 0;
};

// A named value of an option's word list.
struct Word {
    const char* name;
    int value;
};
template <std::size_t N>
const Word* FindWord(const Word (&words)[N], const char* text) {
    for (const Word& w : words)
        if (std::strcmp(w.name, text) == 0) return &w;
    return nullptr;
}

bool ParseMetadataList(const char* list, KeepMetadataBits* bits) {
    static const Word kTokens[] = {{"all", 7}, {"none", 0}, {"exif", 1}, {"icc", 2}, {"xmp", 4}};
    const char* start = list;
    for (;;) {
        const char* comma = std::strchr(start, ',');
        const std::size_t length = comma ? static_cast<std::size_t>(comma - start) : std::strlen(start);
        const Word* found = nullptr;
        for (const Word& w : kTokens)
            if (std::strlen(w.name) == length && std::strncmp(w.name, start, length) == 0) found = &w;
        if (!found) {
            std::fprintf(stderr, "Error! Unknown metadata type '%.*s'\n", static_cast<int>(length), start);
            PrintEncoderLongHelp();
            return false;
        }
        if (found->value == 0)
            *bits = 0;
        else
            *bits |= found->value;
        if (!comma) return true;
        start = comma + 1;
    }
}

enum class Parse { kGoOn, kDone, kFailed };

Parse ParseOptions(int argc, const char* const argv[], EncoderRun& run) {
    WebPConfig& config = run.config;
    webptools::ToolArguments args(argc, argv);
    while (args.Next()) {
        if (args.Is("-h") || args.Is("-help")) {
            PrintEncoderShortHelp();
            return Parse::kDone;
        } else if (args.Is("-H") || args.Is("-longhelp")) {
            PrintEncoderLongHelp();
            return Parse::kDone;
        } else if (args.Is("-version")) {
            webptools::PrintPackedVersion(WebPGetEncoderVersion());
            return Parse::kDone;
        } else if (args.Is("-o", 1)) {
            run.output = args.Value();
        } else if (args.Is("-d", 1)) {
            run.dump = args.Value();
        } else if (args.Is("-q", 1)) {
            config.quality = args.Float();
        } else if (args.Is("-alpha_q", 1)) {
            config.alpha_quality = args.Integer();
        } else if (args.Is("-alpha_method", 1)) {
            config.alpha_compression = args.Integer();
        } else if (args.Is("-alpha_filter", 1)) {
            static const Word kFilters[] = {{"none", 0}, {"fast", 1}, {"best", 2}};
            const char* word = args.Value();
            const Word* found = FindWord(kFilters, word);
            if (!found) {
                std::fprintf(stderr, "Error! Unrecognized alpha filter: %s\n", word);
                return Parse::kFailed;
            }
            config.alpha_filtering = found->value;
        } else if (args.Is("-alpha_cleanup")) {
            run.keepAlpha = run.keepAlpha ? 2 : 0;
        } else if (args.Is("-noalpha")) {
            run.keepAlpha = 0;
        } else if (args.Is("-blend_alpha", 1)) {
            run.blend = true;
            run.background = static_cast<std::uint32_t>(std::strtoul(args.Value(), nullptr, 16)) & 0xFFFFFFu;
        } else if (args.Is("-m", 1)) {
            config.method = args.Integer();
        } else if (args.Is("-segments", 1)) {
            config.segments = args.Integer();
        } else if (args.Is("-size", 1)) {
            config.target_size = args.Integer();
        } else if (args.Is("-psnr", 1)) {
            config.target_PSNR = args.Float();
        } else if (args.Is("-sns", 1)) {
            config.sns_strength = args.Integer();
        } else if (args.Is("-f", 1)) {
            config.filter_strength = args.Integer();
        } else if (args.Is("-sharpness", 1)) {
            config.filter_sharpness = args.Integer();
        } else if (args.Is("-strong")) {
            config.filter_type = 1;
        } else if (args.Is("-nostrong")) {
            config.filter_type = 0;
        } else if (args.Is("-af")) {
            config.autofilter = 1;
        } else if (args.Is("-partition_limit", 1)) {
            config.partition_limit = args.Integer();
        } else if (args.Is("-pass", 1)) {
            config.pass = args.Integer();
        } else if (args.Is("-pre", 1)) {
            config.preprocessing = args.Integer();
        } else if (args.Is("-jpeg_like")) {
            config.emulate_jpeg_size = 1;
        } else if (args.Is("-mt")) {
            ++config.thread_level;
        } else if (args.Is("-low_memory")) {
            config.low_memory = 1;
            run.detailedStats = true;
        } else if (args.Is("-lossless")) {
            config.lossless = 1;
        } else if (args.Is("-hint", 1)) {
            static const Word kHints[] = {{"photo", WEBP_HINT_PHOTO}, {"picture", WEBP_HINT_PICTURE},
                                          {"graph", WEBP_HINT_GRAPH}};
            const char* word = args.Value();
            const Word* found = FindWord(kHints, word);
            if (!found) {
                std::fprintf(stderr, "Error! Unrecognized image hint: %s\n", word);
                return Parse::kFailed;
            }
            config.image_hint = static_cast<WebPImageHint>(found->value);
        } else if (args.Is("-preset", 1)) {
            static const Word kPresets[] = {{"default", WEBP_PRESET_DEFAULT}, {"photo", WEBP_PRESET_PHOTO},
                                            {"picture", WEBP_PRESET_PICTURE}, {"drawing", WEBP_PRESET_DRAWING},
                                            {"icon", WEBP_PRESET_ICON},       {"text", WEBP_PRESET_TEXT}};
            const char* word = args.Value();
            const Word* found = FindWord(kPresets, word);
            if (!found) {
                std::fprintf(stderr, "Error! Unrecognized preset: %s\n", word);
                return Parse::kFailed;
            }
            if (!WebPConfigPreset(&config, static_cast<WebPPreset>(found->value), config.quality)) {
                std::fprintf(stderr, "Error! Could initialize configuration with preset.\n");
                return Parse::kFailed;
            }
        } else if (args.Is("-print_psnr")) {
            run.distortion = 0;
        } else if (args.Is("-print_ssim")) {
            run.distortion = 1;
        } else if (args.Is("-print_lsim")) {
            run.distortion = 2;
        } else if (args.Is("-short")) {
            ++run.shortOutput;
        } else if (args.Is("-quiet")) {
            run.quiet = true;
        } else if (args.Is("-progress")) {
            run.progress = true;
        } else if (args.Is("-v")) {
            encoderVerbose.store(true);
        } else if (args.Is("-noasm")) {
            DisableWebPProcessorFeatures();
        } else if (args.Is("-s", 2)) {
            run.rawWidth = args.Integer();
            run.rawHeight = args.Integer();
        } else if (args.Is("-crop", 4)) {
            run.crop = true;
            run.cropX = args.Integer();
            run.cropY = args.Integer();
            run.cropWidth = args.Integer();
            run.cropHeight = args.Integer();
        } else if (args.Is("-resize", 2)) {
            run.resizeWidth = args.Integer();
            run.resizeHeight = args.Integer();
        } else if (args.Is("-map", 1)) {
            run.mapType = args.Integer();
        } else if (args.Is("-metadata", 1)) {
            if (!ParseMetadataList(args.Value(), &run.keepMetadata)) return Parse::kFailed;
        } else if (args.Is("--", 1)) {
            run.input = args.Value();
            break;
        } else if (args.Current()[0] == '-') {
            std::fprintf(stderr, "Error! Unknown option '%s'\n", args.Current());
            PrintEncoderLongHelp();
            return Parse::kFailed;
        } else {
            run.input = args.Current();
        }
    }
    return Parse::kGoOn;
}

// The pictures, buffers and files of one run, released on every way out.
struct EncoderState {
    WebPPicture picture;
    WebPPicture original;
    bool picturesReady = false;
    WebPMemoryWriter memory;
    platform::PictureMetadata metadata;
    WebPAuxStats stats;
    std::uint8_t* map = nullptr;
    ToolOutput output;
    EncoderState() {
        WebPMemoryWriterInit(&memory);
        platform::PictureMetadataInit(&metadata);
        std::memset(&stats, 0, sizeof stats);
    }
    ~EncoderState() {
        WebPMemoryWriterClear(&memory);
        std::free(map);
        platform::PictureMetadataFree(&metadata);
        if (picturesReady) {
            WebPPictureFree(&picture);
            WebPPictureFree(&original);
        }
    }
};

void PrintMetadataReport(const platform::PictureMetadata& metadata, KeepMetadataBits bits) {
    if (!bits) return;
    std::fprintf(stderr, "Metadata:\n");
    if (bits & platform::kKeepMetadataICC)
        std::fprintf(stderr, "  * ICC profile:  %6d bytes\n", static_cast<int>(metadata.icc.size));
    if (bits & platform::kKeepMetadataEXIF)
        std::fprintf(stderr, "  * EXIF data:    %6d bytes\n", static_cast<int>(metadata.exif.size));
    if (bits & platform::kKeepMetadataXMP)
        std::fprintf(stderr, "  * XMP data:     %6d bytes\n", static_cast<int>(metadata.xmp.size));
}

}  // namespace

int EncoderToolMain(int argc, const char* const argv[]) {
    EncoderState state;
    EncoderRun run;
    if (!WebPPictureInit(&state.picture) || !WebPPictureInit(&state.original) ||
        !WebPConfigInit(&run.config)) {
        std::fprintf(stderr, "Error! Version mismatch!\n");
        return -1;
    }
    state.picturesReady = true;
    if (argc <= 1) {
        PrintEncoderShortHelp();
        return 0;
    }
    switch (ParseOptions(argc, argv, run)) {
        case Parse::kDone: return 0;
        case Parse::kFailed: return -1;
        case Parse::kGoOn: break;
    }
    if (!run.input) {
        std::fprintf(stderr, "No input file specified!\n");
        PrintEncoderShortHelp();
        return -1;
    }
    WebPConfig& config = run.config;
    // The reconstructed picture is wanted for the dump and the distortion, whatever came after
    // the options that asked for it.
    if (run.dump || run.distortion >= 0) config.show_compressed = 1;
    const bool verbose = encoderVerbose.load();
    const bool talk = !run.quiet && run.shortOutput == 0;

    if (!run.quiet && config.lossless) {
        if (config.target_size > 0 || config.target_PSNR > 0)
            std::fprintf(stderr,
                         "Encoding for specified size or PSNR is not supported for lossless encoding. Ignoring "
                         "such option(s)!\n");
        if (config.partition_limit > 0)
            std::fprintf(stderr, "Partition limit option is not required for lossless encoding. Ignoring this option!\n");
    }
    if (!WebPValidateConfig(&config)) {
        std::fprintf(stderr, "Error! Invalid configuration.\n");
        return -1;
    }

    WebPPicture& picture = state.picture;
    double start = verbose ? ToolSeconds() : 0;
    // Read as ARGB when the encoding or the exact crop rectangle needs it; straight into YUV
    // otherwise, which spares the lossy encoder a conversion of its own.
    picture.use_argb = config.lossless || config.use_sharp_yuv || config.preprocessing > 0 || run.crop ? 1 : 0;
    picture.width = run.rawWidth;
    picture.height = run.rawHeight;
    if (!platform::ReadPictureFile(run.input, &picture, run.keepAlpha, run.keepMetadata ? &state.metadata : nullptr)) {
        std::fprintf(stderr, "Error! Cannot read input picture file '%s'\n", run.input);
        return -1;
    }
    if (run.progress && !run.quiet) picture.progress_hook = PrintEncodeProgress;
    if (run.blend) WebPBlendAlpha(&picture, run.background);
    if (run.keepAlpha == 2) WebPCleanupTransparentArea(&picture);
    if (verbose) std::fprintf(stderr, "Time to read input: %.3fs\n", ToolSeconds() - start);

    if (run.output) {
        if (!state.output.Open(run.output)) {
            std::fprintf(stderr, "Error! Cannot open output file '%s'\n", run.output);
            return -1;
        }
        if (talk) std::fprintf(stderr, "Saving file '%s'\n", run.output);
        if (run.keepMetadata == 0) {
            picture.writer = WriteChunkToFile;
            picture.custom_ptr = state.output.file();
        } else {
            picture.writer = WebPMemoryWrite;
            picture.custom_ptr = &state.memory;
        }
    } else if (talk) {
        std::fprintf(stderr,
                     "No output file specified (no -o flag). Encoding will\n"
                     "be performed, but its results discarded.\n\n");
    }
    if (!run.quiet) {
        picture.stats = &state.stats;
        picture.user_data = const_cast<char*>(run.input);
    }

    if (run.crop &&
        !WebPPictureView(&picture, run.cropX, run.cropY, run.cropWidth, run.cropHeight, &picture)) {
        std::fprintf(stderr, "Error! Cannot crop picture\n");
        return -1;
    }
    if ((run.resizeWidth | run.resizeHeight) > 0) {
        // A size the format cannot hold fails the encoding as it would after the rescale, without
        // the gigabytes the rescaled picture would take first.
        if (ResizedSide(run.resizeWidth, run.resizeHeight, picture.width, picture.height) > WEBP_MAX_DIMENSION ||
            ResizedSide(run.resizeHeight, run.resizeWidth, picture.height, picture.width) > WEBP_MAX_DIMENSION) {
            PrintEncodingError(VP8_ENC_ERROR_BAD_DIMENSION);
            return -1;
        }
        if (!WebPPictureRescale(&picture, run.resizeWidth, run.resizeHeight)) {
            std::fprintf(stderr, "Error! Cannot resize picture\n");
            return -1;
        }
    }
    // The map has one byte per macroblock of the picture as it is encoded: after any crop and
    // resize.
    if (run.mapType > 0) {
        const std::size_t blocks = static_cast<std::size_t>((picture.width + 15) / 16) * ((picture.height + 15) / 16);
        state.map = static_cast<std::uint8_t*>(std::calloc(blocks > 0 ? blocks : 1, 1));
        if (!state.map) {
            std::fprintf(stderr, "Error! Cannot allocate the map\n");
            return -1;
        }
        picture.extra_info_type = run.mapType;
        picture.extra_info = state.map;
    }
    if (run.distortion >= 0 && !WebPPictureCopy(&picture, &state.original)) {
        std::fprintf(stderr, "Error! Cannot copy temporary picture\n");
        return -1;
    }

    start = verbose ? ToolSeconds() : 0;
    if (!WebPEncode(&config, &picture)) {
        PrintEncodingError(picture.error_code);
        return -1;
    }
    if (verbose) std::fprintf(stderr, "Time to encode picture: %.3fs\n", ToolSeconds() - start);

    if (run.dump) {
        if (config.lossless)
            std::fprintf(stderr, "Warning: can't dump file (-d option) in lossless mode.");
        else if (!DumpPicture(picture, run.dump))
            std::fprintf(stderr, "Warning, couldn't dump picture %s\n", run.dump);
    }

    KeepMetadataBits reported = 0;
    if (run.keepMetadata != 0) {
        if (run.output) {
            if (!platform::WriteWebPFileWithMetadata(state.output.file(), &picture, &state.memory, &state.metadata,
                                                     run.keepMetadata, &reported)) {
                std::fprintf(stderr, "Error writing WebP file with metadata!\n");
                return -1;
            }
        } else {
            const struct {
                KeepMetadataBits bit;
                const platform::MetadataBlob& blob;
            } blobs[] = {{platform::kKeepMetadataEXIF, state.metadata.exif},
                         {platform::kKeepMetadataICC, state.metadata.icc},
                         {platform::kKeepMetadataXMP, state.metadata.xmp}};
            for (const auto& b : blobs)
                if ((run.keepMetadata & b.bit) && b.blob.bytes && b.blob.size > 0) reported |= b.bit;
        }
    }
    if (run.output && !state.output.Finish()) {
        std::fprintf(stderr, "Error! Cannot write output file '%s'\n", run.output);
        return -1;
    }

    if (!run.quiet) {
        const WebPAuxStats& stats = state.stats;
        if (!(run.shortOutput && run.distortion >= 0)) {
            if (run.shortOutput)
                std::fprintf(stderr, "%7d %2.2f\n", stats.coded_size, stats.PSNR[3]);
            else if (config.lossless) {
                std::fprintf(stderr, "File:      %s\n", run.input);
                std::fprintf(stderr, "Dimension: %d x %d\n", picture.width, picture.height);
                std::fprintf(stderr, "Output:    %d bytes\n", stats.coded_size);
                PrintLosslessStats(stats, "ARGB");
            } else {
                PrintLossyStats(stats, picture, run.input, run.detailedStats, config.alpha_compression == 1);
            }
        }
        if (run.mapType > 0 && !run.shortOutput) PrintMap(picture, state.map);
        if (run.distortion >= 0) {
            WebPPicture& original = state.original;
            if (original.use_argb && !WebPPictureARGBToYUVA(&original, WEBP_YUV420)) {
                std::fprintf(stderr, "Error while converting original picture to YUVA.\n");
                return -1;
            }
            if (picture.use_argb && !WebPPictureARGBToYUVA(&picture, WEBP_YUV420)) {
                std::fprintf(stderr, "Error while converting compressed picture to YUVA.\n");
                return -1;
            }
            float values[5];
            if (!MeasureYUVADistortion(original, picture, run.distortion, values)) {
                std::fprintf(stderr, "Error while computing the distortion.\n");
                return -1;
            }
            if (run.shortOutput) {
                std::fprintf(stderr, "%7d %.4f\n", stats.coded_size, values[4]);
                return 0;
            }
            static const char* const kNames[] = {"PSNR", "SSIM", "LSIM"};
            std::fprintf(stderr, "%s: Y:%.2f U:%.2f V:%.2f A:%.2f  Total:%.2f\n", kNames[run.distortion], values[0],
                         values[1], values[2], values[3], values[4]);
        }
        if (!run.shortOutput) PrintMetadataReport(state.metadata, reported);
    }
    return 0;
}
