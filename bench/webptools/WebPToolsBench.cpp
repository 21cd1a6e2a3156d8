// The WebP command-line tools' speed: a 24-megapixel photographic picture (the largest image of
// a corpus PDF, enlarged by ImageMagick and given fine noise, so that it compresses as a
// photograph does) encoded at default settings by vellipse-webp-encode and by `vips webpsave`
// (quality 75, method 4 both), and the WebP file decoded by vellipse-webp-decode and by
// `vips copy`, to PNG (the decoder's default; vips's own default leaves the rows unfiltered, so
// it runs also with vips filtering them as libpng does by default) and to PPM (no compression,
// so that the decoding itself shows), in alternating rounds in the same run. Prints the best and median wall time of
// each and the ratios ours / vips.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchTiming.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

int Shell(const std::string& command) { return std::system(command.c_str()); }

// The picture, made once and kept in `work`.
bool MakePicture(const fs::path& work, const fs::path& corpus) {
    if (fs::exists(work / "photo.png")) return true;
    fs::create_directories(work);
    const fs::path pdf = corpus / "GeoTopo-komprimiert.pdf";
    std::printf("making the 24-megapixel picture from %s ...\n", pdf.c_str());
    return Shell("cd " + bench::Quote(work) + " && pdfimages -j -f 1 -l 40 " + bench::Quote(pdf) +
                 " img && src=$(ls -S img-* | head -1) && /usr/bin/convert \"$src\" -colorspace sRGB -type TrueColor "
                 "-resize " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                 "! -attenuate 0.4 +noise Gaussian -strip -depth 8 photo.png && rm -f img-*") == 0;
}

struct Pair {
    const char* label;
    std::string ours, theirs;  // shell commands, run in the work folder
    bench::Series oursTimes, theirsTimes;
};

}  // namespace

int main(int argc, char** argv) {
    fs::path work = fs::temp_directory_path() / "vellipse-webptools-bench";
    fs::path corpus = fs::path(VELLIPSE_CORPUS_DIR);
    fs::path tools = fs::path(VELLIPSE_TOOL_DIR);
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--work") && i + 1 < argc) work = argv[++i];
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--corpus") && i + 1 < argc) corpus = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--work folder] [--rounds n] [--corpus folder]\n", argv[0]);
            return 2;
        }
    }
    if (rounds < 1) rounds = 1;
    if (!MakePicture(work, corpus)) {
        std::fprintf(stderr, "cannot make the picture\n");
        return 1;
    }
    const std::string in = "cd " + bench::Quote(work) + " && ";
    const std::string encoder = bench::Quote(tools / "vellipse-webp-encode");
    const std::string decoder = bench::Quote(tools / "vellipse-webp-decode");
    // The file both decoders read: our encoder's, at default settings.
    if (Shell(in + encoder + " photo.png -quiet -o photo.webp") != 0) {
        std::fprintf(stderr, "cannot encode the picture\n");
        return 1;
    }
    std::vector<Pair> pairs = {
        {"encode PNG -> WebP", in + encoder + " photo.png -quiet -o ours.webp",
         in + "vips webpsave photo.png theirs.webp", {}, {}},
        {"decode WebP -> PNG", in + decoder + " photo.webp -o ours.png 2>/dev/null",
         in + "vips copy photo.webp theirs.png", {}, {}},
        // libpng's default row filters against the same in vips (whose own default is none).
        {"decode -> PNG, same", in + decoder + " photo.webp -o ours.png 2>/dev/null",
         in + "vips copy photo.webp 'theirs.png[filter=all]'", {}, {}},
        {"decode WebP -> PPM", in + decoder + " photo.webp -ppm -o ours.ppm 2>/dev/null",
         in + "vips copy photo.webp theirs.ppm", {}, {}},
    };
    for (int round = 0; round < rounds; ++round) {
        for (Pair& p : pairs) {
            // Alternate which side goes first, so that neither always meets a warm or cold cache.
            const bool oursFirst = round % 2 == 0;
            for (int side = 0; side < 2; ++side) {
                const bool ours = (side == 0) == oursFirst;
                int status = 0;
                const double t = bench::Seconds([&] { status = Shell(ours ? p.ours : p.theirs); });
                if (status != 0) {
                    std::fprintf(stderr, "failed: %s\n", (ours ? p.ours : p.theirs).c_str());
                    return 1;
                }
                (ours ? p.oursTimes : p.theirsTimes).times.push_back(t);
            }
        }
    }
    std::printf("%d rounds, %d x %d picture\n", rounds, kWidth, kHeight);
    std::printf("%-20s %10s %10s %10s %10s %8s %8s\n", "", "ours best", "ours med", "vips best", "vips med",
                "min x", "med x");
    for (const Pair& p : pairs)
        std::printf("%-20s %9.3fs %9.3fs %9.3fs %9.3fs %8.3f %8.3f\n", p.label, p.oursTimes.best(),
                    p.oursTimes.median(), p.theirsTimes.best(), p.theirsTimes.median(),
                    p.oursTimes.best() / p.theirsTimes.best(), p.oursTimes.median() / p.theirsTimes.median());
    std::error_code ec;
    for (const char* f : {"ours.webp", "theirs.webp", "ours.png", "theirs.png", "ours.ppm", "theirs.ppm"})
        std::printf("%-12s %12ju bytes\n", f, static_cast<std::uintmax_t>(fs::file_size(work / f, ec)));
    return 0;
}
