// Image-file conversion speed: a 24-megapixel photographic picture (an image of a corpus PDF,
// enlarged by ImageMagick and given fine noise, so that it compresses as a photograph does)
// converted PNG → JPEG at quality 0.8, JPEG → PNG, TIFF (LZW) → PNG, PNG → WebP (quality 0.8 and
// lossless, method 4) and WebP → PNG through ConvertImageFile, and by ImageMagick's `convert` and
// `vips copy` with the same quality and method on the same files in the same run, in
// alternating rounds; and the JPEG redrawn 1920 pixels wide and turned a quarter through
// RenderImageFileToImage, against `convert -resize` / `-rotate 90` and `vips resize` / `vips rot`.
// Prints the best time of each, the least and the median of the rounds' ratios (each round's
// times against each other), the output sizes and the peak memory of each process against the
// decoded picture (each conversion runs in a child process of
// its own, so that its peak is its own).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../BenchTiming.h"
#include "engine/images/ImageFileConversion.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

struct Outcome {
    double seconds = 1e30;
    long peakKiB = 0;
    std::uintmax_t bytes = 0;
    bool ok = true;
};

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string Q(const fs::path& p) {
    std::string out = "'";
    for (char c : p.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs `child` in a forked process; its wall time and peak resident memory.
template <typename Child>
Outcome Measure(Child child) {
    Outcome o;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(child());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.peakKiB = usage.ru_maxrss;
    o.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return o;
}

Outcome RunCommand(const std::string& command) {
    return Measure([&] { return execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr)), 127; });
}

// What our side does with the file: converts it, or redraws it 1920 pixels wide, or turned.
enum class Work { Convert, Resize, Turn };

Outcome RunOurs(const fs::path& in, const fs::path& out, int type, double quality, Work work) {
    return Measure([&] {
        ImageConversion r{};
        r.sourceURL = in;
        r.outputFolderURL = out;
        r.conversionOptions.imageType = type;
        r.conversionOptions.compressionQuality = quality;
        if (work == Work::Convert) return ConvertImageFile(&r) == 1 ? 0 : 1;
        r.resizeOptions.sizeUnit = kSizePixels;
        if (work == Work::Resize) {
            r.resizeOptions.resizeToTarget = 1;
            r.resizeOptions.keepAspectRatio = 1;
            r.resizeOptions.targetWidth = 1920;
        } else {
            r.rotationAngle = 90;
        }
        return RenderImageFileToImage(&r) == 1 ? 0 : 1;
    });
}

void Keep(Outcome& best, const Outcome& run, const fs::path& out) {
    if (!run.ok) best.ok = false;
    if (run.seconds < best.seconds) best.seconds = run.seconds;
    if (run.peakKiB > best.peakKiB) best.peakKiB = run.peakKiB;
    std::error_code ec;
    best.bytes = fs::file_size(out, ec);
    fs::remove(out, ec);
}

// The picture, made once and kept in `work`.
bool MakeFixtures(const fs::path& work, const fs::path& corpus) {
    if (fs::exists(work / "photo.png") && !fs::exists(work / "photo.webp") &&
        Shell("cd " + Q(work) + " && vips copy photo.png 'photo.webp[Q=80,effort=4]'") != 0)
        return false;
    if (fs::exists(work / "photo.png") && fs::exists(work / "photo.jpg") && fs::exists(work / "photo.tif") &&
        fs::exists(work / "photo.webp"))
        return true;
    fs::create_directories(work);
    const fs::path pdf = corpus / "GeoTopo-komprimiert.pdf";
    std::printf("making the 24-megapixel picture from %s ...\n", pdf.c_str());
    // The largest image of the document, enlarged, with fine noise.
    if (Shell("cd " + Q(work) + " && pdfimages -j -f 1 -l 40 " + Q(pdf) +
              " img && src=$(ls -S img-* | head -1) && convert \"$src\" -colorspace sRGB -type TrueColor -resize " +
              std::to_string(kWidth) + "x" + std::to_string(kHeight) +
              "! -attenuate 0.4 +noise Gaussian -strip -depth 8 photo.png && rm -f img-*") != 0)
        return false;
    return Shell("cd " + Q(work) +
                 " && convert photo.png -quality 90 photo.jpg && convert photo.png -compress lzw photo.tif"
                 " && vips copy photo.png 'photo.webp[Q=80,effort=4]'") == 0;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work = fs::temp_directory_path() / "vellipse-image-bench";
    fs::path corpus = fs::path(VELLIPSE_CORPUS_DIR);
    int rounds = 3;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--work") && i + 1 < argc) work = argv[++i];
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--corpus") && i + 1 < argc) corpus = argv[++i];
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) only = argv[++i];
        else {
            std::fprintf(stderr, "usage: vellipse_image_bench [--work DIR] [--rounds N] [--corpus DIR] [--only TEXT]\n");
            return 2;
        }
    }
    if (!MakeFixtures(work, corpus)) {
        std::fprintf(stderr, "could not make the picture\n");
        return 1;
    }
    struct Case {
        const char* name;
        const char* in;
        const char* ext;
        int type;
        double quality;
        const char* magickOptions;
        const char* vipsOptions;
        // The vips operation and what follows the output: "copy", or "resize" ... 0.32.
        const char* vipsOperation = "copy";
        const char* vipsArguments = "";
        Work work = Work::Convert;
    };
    // libwebp's lossless mode takes the quality as its effort: 75, as our configuration leaves it.
    const Case cases[] = {
        {"PNG -> JPEG q0.8", "photo.png", "jpg", kOutputJPEG, 0.8, "-quality 80", "[Q=80]"},
        {"JPEG -> PNG", "photo.jpg", "png", kOutputPNG, 0.8, "", ""},
        {"TIFF -> PNG", "photo.tif", "png", kOutputPNG, 0.8, "", ""},
        {"PNG -> WebP q0.8", "photo.png", "webp", kOutputWebP, 0.8, "-quality 80 -define webp:method=4", "[Q=80,effort=4]"},
        {"PNG -> WebP lossless", "photo.png", "webp", kOutputWebP, 1.0,
         "-quality 75 -define webp:lossless=true -define webp:method=4", "[lossless,Q=75,effort=4]"},
        {"WebP -> PNG", "photo.webp", "png", kOutputPNG, 0.8, "", ""},
        {"JPEG 1920 wide", "photo.jpg", "jpg", kOutputJPEG, 0.8, "-resize 1920x -quality 80", "[Q=80]", "resize", "0.32",
         Work::Resize},
        {"JPEG turned 90", "photo.jpg", "jpg", kOutputJPEG, 0.8, "-rotate 90 -quality 80", "[Q=80]", "rot", "d90",
         Work::Turn},
    };
    const double decodedKiB = static_cast<double>(kWidth) * kHeight * 3 / 1024;
    std::printf("%d x %d pixels, %d alternating rounds (times: the best; ratios: the least and the median)\n",
                kWidth, kHeight, rounds);
    std::printf("%-21s %9s %9s %9s %8s %8s %8s %8s %10s %10s %8s %8s\n", "case", "ours s", "magick s", "vips s",
                "/magick", "med", "/vips", "med", "ours MB", "vips MB", "bytes/v", "mem/img");
    bool allOk = true;
    for (const Case& c : cases) {
        if (!only.empty() && std::string(c.name).find(only) == std::string::npos) continue;
        Outcome ours, magick, vips;
        bench::Series toMagick, toVips;  // the rounds' ratios
        const fs::path in = work / c.in;
        for (int r = 0; r < rounds; ++r) {
            // Each round starts with another of the three, so that none always runs first.
            Outcome a, b, v;
            for (int k = 0; k < 3; ++k) {
                const int which = (k + r) % 3;
                if (which == 0) {
                    const fs::path o1 = work / (std::string("ours.") + c.ext);
                    a = RunOurs(in, o1, c.type, c.quality, c.work);
                    Keep(ours, a, o1);
                } else if (which == 1) {
                    const fs::path o2 = work / (std::string("magick.") + c.ext);
                    b = RunCommand("/usr/bin/convert " + Q(in) + " " + c.magickOptions + " " + Q(o2));
                    Keep(magick, b, o2);
                } else {
                    const fs::path o3 = work / (std::string("vips.") + c.ext);
                    v = RunCommand(std::string("vips ") + c.vipsOperation + " " + Q(in) + " " +
                                   Q(o3.string() + c.vipsOptions) + " " + c.vipsArguments);
                    Keep(vips, v, o3);
                }
            }
            toMagick.times.push_back(a.seconds / b.seconds);
            toVips.times.push_back(a.seconds / v.seconds);
        }
        allOk = allOk && ours.ok && magick.ok && vips.ok;
        std::printf("%-21s %9.3f %9.3f %9.3f %8.2f %8.2f %8.2f %8.2f %10.1f %10.1f %8.2f %8.2f%s\n", c.name,
                    ours.seconds, magick.seconds, vips.seconds, toMagick.best(), toMagick.median(), toVips.best(),
                    toVips.median(),
                    ours.bytes / 1e6, vips.bytes / 1e6, static_cast<double>(ours.bytes) / vips.bytes,
                    ours.peakKiB / decodedKiB, ours.ok ? "" : "  (failed)");
    }
    return allOk ? 0 : 1;
}
