// Converts one PDF through the engine with the given settings and prints its speed, output size
// and peak memory. With --compare it also times, in the same run and on the same pages,
// `mutool draw` (one process per page, 7 at a time through xargs -P 7, as a shell user would)
// and `pdftoppm`, and prints the ratios.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/ConversionReport.h"
#include "engine/ImageConversion.h"
#include "engine/OperationQueue.h"
#include "platform/PdfDocument.h"

namespace fs = std::filesystem;

namespace {

struct Settings {
    fs::path pdf;
    int type = kOutputPNG;
    long dpi = 150;
    int colorModel = kColorRGB;
    double quality = 0.8;
    long first = 0, last = 0;  // 0: all pages
    int repeat = 1;
    bool compare = false;
    bool keep = false;
    fs::path out;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: vellipse_bench [options] file.pdf\n"
                 "  --type png|jpeg|tiff|tiffcmyk|multitiff|gif|jp2|bmp|pdf|N  output type (png)\n"
                 "  --dpi N            resolution (150)\n"
                 "  --color rgb|cmyk|gray  colour model (rgb)\n"
                 "  --quality Q        lossy quality 0..1 (0.8)\n"
                 "  --first N --last N page range (all pages)\n"
                 "  --repeat N         convert N times, report each and the best\n"
                 "  --out DIR          output folder (a temporary one, removed afterwards)\n"
                 "  --keep             keep the output\n"
                 "  --compare          also time mutool draw (xargs -P 7) and pdftoppm\n");
}

int ParseType(const std::string& s) {
    if (s == "png") return kOutputPNG;
    if (s == "jpeg" || s == "jpg") return kOutputJPEG;
    if (s == "tiff" || s == "tif") return kOutputTIFF;
    if (s == "tiffcmyk") return kOutputTIFFCMYK;
    if (s == "multitiff") return kOutputMultiPageTIFF;
    if (s == "gif") return kOutputGIF;
    if (s == "jp2") return kOutputJPEG2000;
    if (s == "bmp") return kOutputBMP;
    if (s == "pdf") return kOutputPDF;
    return std::atoi(s.c_str());
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double CpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::uintmax_t FolderBytes(const fs::path& folder) {
    std::uintmax_t total = 0;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
        if (entry.is_regular_file(ec)) total += entry.file_size(ec);
    return total;
}

fs::path FreshFolder(const std::string& what) {
    std::random_device rd;
    fs::path p = fs::temp_directory_path() / ("vellipse-bench-" + what + "-" + std::to_string(rd()));
    fs::create_directories(p);
    return p;
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Timed {
    double seconds = 0;
    std::uintmax_t bytes = 0;
    int status = 0;
};

Timed RunShell(const std::string& command, const fs::path& folder) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    Timed t;
    t.seconds = Seconds(start);
    t.status = status;
    t.bytes = FolderBytes(folder);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--type") s.type = ParseType(next());
        else if (a == "--dpi") s.dpi = std::atol(next().c_str());
        else if (a == "--color") {
            const std::string c = next();
            s.colorModel = c == "cmyk" ? kColorCMYK : c == "gray" || c == "grey" ? kColorGray : kColorRGB;
        } else if (a == "--quality") s.quality = std::atof(next().c_str());
        else if (a == "--first") s.first = std::atol(next().c_str());
        else if (a == "--last") s.last = std::atol(next().c_str());
        else if (a == "--repeat") s.repeat = std::max(1, std::atoi(next().c_str()));
        else if (a == "--out") s.out = next();
        else if (a == "--keep") s.keep = true;
        else if (a == "--compare") s.compare = true;
        else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            Usage();
            return 2;
        } else s.pdf = a;
    }
    if (s.pdf.empty()) {
        Usage();
        return 2;
    }

    long pages = 0;
    if (auto doc = platform::PdfDocument::Open(s.pdf)) pages = doc->PageCount();
    if (pages < 1) {
        std::fprintf(stderr, "cannot read %s\n", s.pdf.c_str());
        return 1;
    }
    const long first = s.first >= 1 ? std::min(s.first, pages) : 1;
    const long last = s.last >= first ? std::min(s.last, pages) : pages;
    const long count = last - first + 1;
    const int workers = PageQueueWidth(std::thread::hardware_concurrency());

    std::printf("file %s, pages %ld-%ld (%ld), type %d, %ld dpi, colour %d, quality %.2f, workers %d\n",
                s.pdf.filename().c_str(), first, last, count, s.type, s.dpi, s.colorModel, s.quality, workers);

    if (!s.out.empty()) {
        std::error_code ec;
        fs::create_directories(s.out, ec);
        if (!fs::is_directory(s.out, ec)) {
            std::fprintf(stderr, "the output folder %s is not a folder and cannot be made one\n", s.out.c_str());
            return 1;
        }
    }

    double best = 0;
    std::uintmax_t bytes = 0;
    bool failed = false;
    for (int r = 0; r < s.repeat; ++r) {
        const bool ownFolder = s.out.empty();
        const fs::path folder = ownFolder ? FreshFolder("ours") : s.out;
        ImageConversion record{};
        record.sourceURL = s.pdf;
        record.outputFolderURL = folder;
        record.overwriteExistingFile = 1;
        record.conversionOptions.outputResolution = s.dpi;
        record.conversionOptions.imageType = s.type;
        record.conversionOptions.colorModel = s.colorModel;
        record.conversionOptions.compressionQuality = s.quality;
        record.conversionOptions.password = "";
        record.conversionOptions.pageRangeType = kPageRangeFromTo;
        record.conversionOptions.startPage = first;
        record.conversionOptions.endPage = last;
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        const auto start = std::chrono::steady_clock::now();
        const ConversionReport report = ConvertPDFToImagesWithReport(&record);
        const std::uint8_t ok = report.success;
        if (!ok) failed = true;
        const double seconds = Seconds(start);
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const double cpu = CpuSeconds(after) - CpuSeconds(before);
        bytes = FolderBytes(folder);
        if (!s.keep && ownFolder) fs::remove_all(folder);
        std::printf("vellipse: %s, %.3f s wall, %.1f pages/s, %ju output bytes, %.2f s processor time\n",
                    ok ? "ok" : ("FAILED: " + DescribeConversionReport(report)).c_str(), seconds, count / seconds,
                    bytes, cpu);
        if (r == 0 || seconds < best) best = seconds;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMB = usage.ru_maxrss / 1024.0;
    std::printf("vellipse best: %.3f s wall, %.1f pages/s, %ju bytes, peak memory %.1f MB\n", best, count / best,
                bytes, peakMB);

    // A failed conversion fails the run, whatever the peers do.
    if (!s.compare) return failed ? 1 : 0;

    const std::string pdf = Quote(fs::absolute(s.pdf).string());
    const std::string colour = s.colorModel == kColorGray ? "gray" : s.colorModel == kColorCMYK ? "cmyk" : "rgb";
    // mutool draw writes no JPEG or TIFF: its PNG (PAM for CMYK) is what a shell user gets from it.
    const std::string mutoolExt = s.colorModel == kColorCMYK ? "pam" : "png";
    {
        const fs::path folder = FreshFolder("mutool");
        const std::string command = "seq " + std::to_string(first) + " " + std::to_string(last) +
                                    " | xargs -P 7 -I{} mutool draw -q -c " + colour + " -r " + std::to_string(s.dpi) +
                                    " -o " + Quote((folder / ("p{}." + mutoolExt)).string()) + " " + pdf +
                                    " {} 2>/dev/null";
        const Timed t = RunShell(command, folder);
        fs::remove_all(folder);
        std::printf("mutool draw (xargs -P 7, %s): %.3f s wall, %.1f pages/s, %ju output bytes%s\n", mutoolExt.c_str(),
                    t.seconds, count / t.seconds, t.bytes, t.status ? " (exit status not 0)" : "");
        std::printf("ratio vellipse/mutool: time %.3f, bytes %.3f\n", best / t.seconds,
                    t.bytes ? static_cast<double>(bytes) / t.bytes : 0.0);
    }
    {
        const fs::path folder = FreshFolder("pdftoppm");
        std::string format = "-png";
        if (s.type == kOutputJPEG)
            format = s.colorModel == kColorCMYK ? "-jpegcmyk" : "-jpeg -jpegopt quality=" +
                                                                     std::to_string(static_cast<int>(s.quality * 100));
        else if (s.type == kOutputTIFF || s.type == kOutputTIFFCMYK || s.type == kOutputMultiPageTIFF)
            format = "-tiff -tiffcompression lzw";
        if (s.colorModel == kColorGray) format += " -gray";
        const std::string command = "pdftoppm -q " + format + " -r " + std::to_string(s.dpi) + " -f " +
                                    std::to_string(first) + " -l " + std::to_string(last) + " " + pdf + " " +
                                    Quote((folder / "p").string()) + " 2>/dev/null";
        const Timed t = RunShell(command, folder);
        fs::remove_all(folder);
        std::printf("pdftoppm (%s): %.3f s wall, %.1f pages/s, %ju output bytes%s\n", format.c_str(), t.seconds,
                    count / t.seconds, t.bytes, t.status ? " (exit status not 0)" : "");
        std::printf("ratio vellipse/pdftoppm: time %.3f, bytes %.3f\n", best / t.seconds,
                    t.bytes ? static_cast<double>(bytes) / t.bytes : 0.0);
    }
    return failed ? 1 : 0;
}
