// Converts one PDF through the engine with the given settings and prints its speed, output size,
// processor time and peak memory. Every conversion of ours runs in a child process of its own,
// so each run's peak memory and processor time are its own.
//
// --compare times, in the same run, on the same pages and at the same resolution, the peers a
// user would reach for: `mutool draw` in each of its ways of using the machine (one process a
// page, 7 at a time; 7 processes on page ranges; one process with -T 7 at the band height that
// measured best), Ghostscript with 7 rendering threads and, on request, pdftoppm and the
// single-threaded pdftocairo (the reference for JPEG's processor time). The contestants run in
// rounds whose order alternates, so that all of them meet the same load on a shared machine;
// ratios are taken within each round (peer time / our time) and summarised by their minimum and
// median.
//
// --types times every output type against PNG the same way (type time / PNG time).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
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
    std::string peers = "mutool,gs";
    int band = 0;  // mutool -T band height; 0: the best of a calibration
    std::string types;  // --types: the output types timed against PNG
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
                 "  --repeat N         rounds (1)\n"
                 "  --compare          time the peers too, in alternating rounds\n"
                 "  --peers LIST       peers for --compare: mutool,gs,pdftoppm,pdftocairo (mutool,gs;\n"
                 "                     pdftocairo is added for JPEG)\n"
                 "  --band N           band height for mutool draw -T 7 (the best of 64..1024)\n"
                 "  --types LIST|all   time these output types against PNG (codes or names)\n"
                 "  --out DIR          output folder (a temporary one, removed afterwards)\n"
                 "  --keep             keep the output\n");
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

const char* TypeName(int type) {
    static const char* const kNames[] = {"?",    "PSD",  "GIF",  "JPEG 2000", "JPEG", "EXR",  "ICNS", "PNG",
                                         "PDF",  "TGA",  "TIFF", "BMP",       "SGI",  "TIFF CMYK", "PICT",
                                         "AI",   "MacPaint", "QTIF", "ICO",   "XBM",  "FlashPix", "Fax",
                                         "DNG",  "multi-page TIFF"};
    return type >= 1 && type <= 23 ? kNames[type] : kNames[0];
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double TimeOf(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

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

// One timed run: wall time, the processor time of the process and everything it waited for,
// the largest resident set among them, and what it wrote.
struct Run {
    double seconds = 0;
    double user = 0;
    double system = 0;
    double peakMiB = 0;
    std::uintmax_t bytes = 0;
    bool ok = false;
    std::string failure;  // why our conversion failed, as the engine reports it
    // Our conversion's own wall and processor time, measured in the child around the call:
    // without the child's start and end. 0 for the peers.
    double conversionSeconds = 0;
    double conversionCpu = 0;
    double cpu() const { return user + system; }
};

// Runs `work` in a child process (its exit status is the result) into a fresh folder.
Run RunInChild(const std::string& what, const fs::path& givenFolder, bool keep,
               const std::function<int(const fs::path&)>& work) {
    const fs::path folder = givenFolder.empty() ? FreshFolder(what) : givenFolder;
    fs::create_directories(folder);
    std::fflush(nullptr);
    Run r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(work(folder));
    int status = 0;
    rusage usage{};
    if (pid > 0) {
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
    }
    r.seconds = Seconds(start);
    r.user = TimeOf(usage.ru_utime);
    r.system = TimeOf(usage.ru_stime);
    r.peakMiB = usage.ru_maxrss / 1024.0;
    r.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.bytes = FolderBytes(folder);
    if (givenFolder.empty() && !keep) fs::remove_all(folder);
    return r;
}

Run RunShell(const std::string& what, const std::string& command) {
    return RunInChild(what, {}, false, [&](const fs::path& folder) {
        std::string c = command;
        for (std::size_t at; (at = c.find("@OUT@")) != std::string::npos;) c.replace(at, 5, Quote(folder.string()));
        execl("/bin/sh", "sh", "-c", c.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
}

double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return TimeOf(usage.ru_utime) + TimeOf(usage.ru_stime);
}

// Our conversion in a child process; its own times and the reason of a failure come back
// through pipes.
Run RunOurs(const Settings& s, int type, long first, long last) {
    int pipeEnds[2] = {-1, -1};
    if (pipe(pipeEnds) != 0) pipeEnds[0] = pipeEnds[1] = -1;
    int timeEnds[2] = {-1, -1};
    if (pipe(timeEnds) != 0) timeEnds[0] = timeEnds[1] = -1;
    Run run = RunInChild("ours", s.out, s.keep, [&](const fs::path& folder) {
        if (pipeEnds[0] >= 0) close(pipeEnds[0]);
        if (timeEnds[0] >= 0) close(timeEnds[0]);
        ImageConversion record{};
        record.sourceURL = s.pdf;
        record.outputFolderURL = folder;
        record.overwriteExistingFile = 1;
        record.conversionOptions.outputResolution = s.dpi;
        record.conversionOptions.imageType = type;
        record.conversionOptions.colorModel = s.colorModel;
        record.conversionOptions.compressionQuality = s.quality;
        record.conversionOptions.password = "";
        record.conversionOptions.pageRangeType = kPageRangeFromTo;
        record.conversionOptions.startPage = first;
        record.conversionOptions.endPage = last;
        const double cpuBefore = ProcessorSeconds();
        const auto start = std::chrono::steady_clock::now();
        const ConversionReport report = ConvertPDFToImagesWithReport(&record);
        const double times[2] = {Seconds(start), ProcessorSeconds() - cpuBefore};
        if (timeEnds[1] >= 0 && write(timeEnds[1], times, sizeof times) < 0) {
            // The run only lacks its share figures: the conversion's result stands.
        }
        if (!report.success && pipeEnds[1] >= 0) {
            const std::string why = DescribeConversionReport(report);
            // A short message fits in the pipe's buffer: the parent reads it after the exit.
            if (write(pipeEnds[1], why.data(), std::min<std::size_t>(why.size(), 4000)) < 0) return 1;
        }
        return report.success ? 0 : 1;
    });
    if (pipeEnds[1] >= 0) close(pipeEnds[1]);
    if (timeEnds[1] >= 0) close(timeEnds[1]);
    if (timeEnds[0] >= 0) {
        double times[2] = {0, 0};
        if (read(timeEnds[0], times, sizeof times) == static_cast<ssize_t>(sizeof times)) {
            run.conversionSeconds = times[0];
            run.conversionCpu = times[1];
        }
        close(timeEnds[0]);
    }
    if (pipeEnds[0] >= 0) {
        char buffer[4096];
        for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            run.failure.append(buffer, static_cast<std::size_t>(n));
        }
        close(pipeEnds[0]);
    }
    if (!run.ok && run.failure.empty()) run.failure = "no reason given (the conversion ended abnormally)";
    return run;
}

bool OursFailed(const std::vector<Run>& runs) {
    return std::any_of(runs.begin(), runs.end(), [](const Run& r) { return !r.ok; });
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Min(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

struct Contestant {
    std::string name;
    std::function<Run()> run;
    bool mutool = false;  // one of mutool draw's ways
    std::vector<Run> runs = {};
};

// Runs every contestant once a round, in order on even rounds and in reverse on odd ones.
void RunRounds(std::vector<Contestant>& contestants, int rounds) {
    for (int r = 0; r < rounds; ++r) {
        std::printf("round %d:", r + 1);
        std::fflush(stdout);
        for (std::size_t k = 0; k < contestants.size(); ++k) {
            Contestant& c = contestants[r % 2 ? contestants.size() - 1 - k : k];
            c.runs.push_back(c.run());
            std::printf(" %s %.3f s%s;", c.name.c_str(), c.runs.back().seconds, c.runs.back().ok ? "" : " (FAILED)");
            std::fflush(stdout);
        }
        std::printf("\n");
    }
}

std::vector<double> Field(const std::vector<Run>& runs, double (*get)(const Run&)) {
    std::vector<double> v;
    for (const Run& r : runs) v.push_back(get(r));
    return v;
}

void PrintOurRuns(const std::vector<Run>& runs, long count, double budgetMiB, int workers) {
    for (const Run& r : runs)
        std::printf("vellipse: %s, %.3f s wall (%.3f s in the conversion), %.1f pages/s, %ju output bytes, %.2f s "
                    "processor time (%.2f user, %.2f system), peak %.1f MiB\n",
                    r.ok ? "ok" : ("FAILED: " + r.failure).c_str(), r.seconds, r.conversionSeconds, count / r.seconds,
                    r.bytes, r.cpu(), r.user, r.system, r.peakMiB);
    const std::vector<double> peaks = Field(runs, [](const Run& r) { return r.peakMiB; });
    const std::vector<double> wall = Field(runs, [](const Run& r) { return r.seconds; });
    const std::vector<double> sys = Field(runs, [](const Run& r) { return r.system / std::max(1e-9, r.cpu()); });
    // How much of the workers' time they were on a processor: the conversion's processor time
    // over its wall time on every worker (the machine's other load takes its share too), and
    // the same for the whole child process, its start and end included.
    const std::vector<double> share = Field(
        runs, [](const Run& r) { return r.conversionCpu / std::max(1e-9, r.conversionSeconds); });
    const std::vector<double> processShare =
        Field(runs, [](const Run& r) { return r.cpu() / std::max(1e-9, r.seconds); });
    int over = 0;
    for (double p : peaks) over += p > budgetMiB;
    std::printf("vellipse best: %.3f s wall, median %.3f s, %.1f pages/s; system time %.0f %% of processor time "
                "(median); peak memory min %.1f, median %.1f, max %.1f MiB; budget %.1f MiB, over it in %d of %zu "
                "runs\n",
                Min(wall), Median(wall), count / Min(wall), 100 * Median(sys), Min(peaks), Median(peaks), Max(peaks),
                budgetMiB, over, runs.size());
    std::printf("vellipse conversion's processor time ÷ (its wall time × %d workers): min %.0f %%, median %.0f %%, "
                "max %.0f %%\n",
                workers, 100 * Min(share) / workers, 100 * Median(share) / workers, 100 * Max(share) / workers);
    std::printf("vellipse process's processor time ÷ (wall time × %d workers): min %.0f %%, median %.0f %%, max %.0f %%\n",
                workers, 100 * Min(processShare) / workers, 100 * Median(processShare) / workers,
                100 * Max(processShare) / workers);
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
        else if (a == "--peers") s.peers = next();
        else if (a == "--band") s.band = std::max(0, std::atoi(next().c_str()));
        else if (a == "--types") s.types = next();
        else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            Usage();
            return 2;
        } else s.pdf = a;
    }
    if (s.pdf.empty() || s.dpi < 1) {
        Usage();
        return 2;
    }
    s.pdf = fs::absolute(s.pdf);

    long pages = 0;
    float pageW = 0, pageH = 0;
    if (auto doc = platform::PdfDocument::Open(s.pdf)) {
        pages = doc->PageCount();
        if (auto g = doc->PageGeometry(0)) {
            const platform::PdfRect box = g->cropBox.width() > 0 ? g->cropBox : g->mediaBox;
            pageW = box.width();
            pageH = box.height();
        }
    }
    if (pages < 1) {
        std::fprintf(stderr, "cannot read %s\n", s.pdf.c_str());
        return 1;
    }
    const long first = s.first >= 1 ? std::min(s.first, pages) : 1;
    const long last = s.last >= first ? std::min(s.last, pages) : pages;
    const long count = last - first + 1;
    const int workers = PageQueueWidth(std::thread::hardware_concurrency());
    // The memory the engine may use: three page buffers a worker (its first page's size,
    // 4 bytes a pixel at most) and 200 MB for the rest.
    const int bytesPerPixel = s.colorModel == kColorGray ? 1 : s.colorModel == kColorCMYK ? 4 : 3;
    const double pageMiB = std::nearbyintf(pageW * s.dpi / 72.0f) * std::nearbyintf(pageH * s.dpi / 72.0f) *
                           bytesPerPixel / (1024.0 * 1024.0);
    const double budgetMiB = workers * 3 * pageMiB + 200e6 / (1024.0 * 1024.0);

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

    if (!s.types.empty()) {
        // Every type in the list against PNG, in alternating rounds.
        std::vector<int> types;
        if (s.types == "all") {
            for (int t = 1; t <= 23; ++t)
                if (t != kOutputPNG) types.push_back(t);
        } else {
            std::stringstream list(s.types);
            for (std::string item; std::getline(list, item, ',');)
                if (int t = ParseType(item); t >= 1 && t <= 23 && t != kOutputPNG) types.push_back(t);
        }
        std::vector<Contestant> contestants;
        contestants.push_back({"PNG", [&] { return RunOurs(s, kOutputPNG, first, last); }});
        for (int t : types) contestants.push_back({TypeName(t), [&s, t, first, last] { return RunOurs(s, t, first, last); }});
        RunRounds(contestants, s.repeat);
        const std::vector<Run>& png = contestants[0].runs;
        std::printf("\n%-16s %10s %10s %12s %12s %12s %12s\n", "type", "min s", "median s", "÷PNG median", "÷PNG max",
                    "peak MiB", "bytes÷PNG");
        for (const Contestant& c : contestants) {
            std::vector<double> ratios;
            for (std::size_t r = 0; r < c.runs.size(); ++r) ratios.push_back(c.runs[r].seconds / png[r].seconds);
            const std::vector<double> wall = Field(c.runs, [](const Run& r) { return r.seconds; });
            const std::vector<double> peaks = Field(c.runs, [](const Run& r) { return r.peakMiB; });
            bool ok = true;
            for (const Run& r : c.runs) ok = ok && r.ok;
            std::printf("%-16s %10.3f %10.3f %12.2f %12.2f %12.1f %12.2f%s\n", c.name.c_str(), Min(wall), Median(wall),
                        Median(ratios), Max(ratios), Max(peaks),
                        static_cast<double>(c.runs.back().bytes) / std::max<std::uintmax_t>(1, png.back().bytes),
                        ok ? "" : "  FAILED");
        }
        std::printf("budget %.1f MiB\n", budgetMiB);
        // A failed conversion fails the run.
        bool failed = false;
        for (const Contestant& c : contestants)
            for (const Run& r : c.runs)
                if (!r.ok) {
                    std::printf("%s: FAILED: %s\n", c.name.c_str(), r.failure.c_str());
                    failed = true;
                }
        return failed ? 1 : 0;
    }

    std::vector<Contestant> contestants;
    contestants.push_back({"vellipse", [&] { return RunOurs(s, s.type, first, last); }});
    if (!s.compare) {
        RunRounds(contestants, s.repeat);
        PrintOurRuns(contestants[0].runs, count, budgetMiB, workers);
        return OursFailed(contestants[0].runs) ? 1 : 0;
    }

    const std::string pdf = Quote(s.pdf.string());
    const std::string dpi = std::to_string(s.dpi);
    const std::string colour = s.colorModel == kColorGray ? "gray" : s.colorModel == kColorCMYK ? "cmyk" : "rgb";
    // mutool draw writes neither JPEG nor TIFF: its PNG (PAM for CMYK) is what a shell user gets.
    const std::string ext = s.colorModel == kColorCMYK ? "pam" : "png";
    const std::string draw = "mutool draw -q -c " + colour + " -r " + dpi;
    auto has = [&](const char* peer) { return ("," + s.peers + ",").find(std::string(",") + peer + ",") != std::string::npos; };
    const int peerWorkers = 7;

    if (has("mutool")) {
        contestants.push_back({"mutool/page x7", [=] {
                                   return RunShell("mutool", "seq " + std::to_string(first) + " " + std::to_string(last) +
                                                                 " | xargs -P " + std::to_string(peerWorkers) + " -I{} " +
                                                                 draw + " -o @OUT@/p{}." + ext + " " + pdf +
                                                                 " {} 2>/dev/null");
                               },
                               true});
        // Seven processes, each on its share of the range.
        std::string ranges;
        const long processes = std::min<long>(peerWorkers, count);
        for (long k = 0; k < processes; ++k) {
            const long a = first + count * k / processes, b = first + count * (k + 1) / processes - 1;
            ranges += draw + " -o @OUT@/p%d." + ext + " " + pdf + " " + std::to_string(a) + "-" + std::to_string(b) +
                      " 2>/dev/null & ";
        }
        contestants.push_back({"mutool/ranges x7", [=] { return RunShell("mutool", ranges + "wait"); }, true});

        // -T needs banding: the band height that is fastest here, unless given.
        int band = s.band;
        const std::string range = std::to_string(first) + "-" + std::to_string(last);
        if (band == 0) {
            const std::string sample = std::to_string(first) + "-" + std::to_string(std::min(last, first + 6));
            double best = 0;
            std::printf("mutool draw -T %d band heights on pages %s:", peerWorkers, sample.c_str());
            for (int h : {64, 128, 256, 512, 1024}) {
                const Run r = RunShell("mutool", draw + " -T " + std::to_string(peerWorkers) + " -B " +
                                                     std::to_string(h) + " -o @OUT@/p%d." + ext + " " + pdf + " " +
                                                     sample + " 2>/dev/null");
                std::printf(" %d: %.3f s;", h, r.seconds);
                if (band == 0 || r.seconds < best) {
                    best = r.seconds;
                    band = h;
                }
            }
            std::printf(" best %d\n", band);
        }
        contestants.push_back({"mutool -T " + std::to_string(peerWorkers) + " -B " + std::to_string(band), [=] {
                                   return RunShell("mutool", draw + " -T " + std::to_string(peerWorkers) + " -B " +
                                                                 std::to_string(band) + " -o @OUT@/p%d." + ext + " " +
                                                                 pdf + " " + range + " 2>/dev/null");
                               },
                               true});
    }
    if (has("gs")) {
        // Anti-aliased as the others are.
        const std::string device = s.colorModel == kColorGray ? "pnggray" : s.colorModel == kColorCMYK ? "tiff32nc" : "png16m";
        contestants.push_back({"gs -dNumRenderingThreads=" + std::to_string(peerWorkers), [=] {
                                   return RunShell("gs", "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=" + device +
                                                             " -dNumRenderingThreads=" + std::to_string(peerWorkers) +
                                                             " -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -r" + dpi +
                                                             " -dFirstPage=" + std::to_string(first) +
                                                             " -dLastPage=" + std::to_string(last) +
                                                             " -o @OUT@/p%d.out " + pdf + " >/dev/null 2>&1");
                               }});
    }
    std::string format = "-png";
    if (s.type == kOutputJPEG)
        format = s.colorModel == kColorCMYK ? "-jpegcmyk" : "-jpeg -jpegopt quality=" + std::to_string(static_cast<int>(s.quality * 100));
    else if (s.type == kOutputTIFF || s.type == kOutputTIFFCMYK || s.type == kOutputMultiPageTIFF)
        format = "-tiff -tiffcompression lzw";
    if (s.colorModel == kColorGray) format += " -gray";
    const std::string pages_ = " -r " + dpi + " -f " + std::to_string(first) + " -l " + std::to_string(last) + " " + pdf;
    if (has("pdftoppm"))
        contestants.push_back({"pdftoppm", [=] { return RunShell("pdftoppm", "pdftoppm -q " + format + pages_ + " @OUT@/p 2>/dev/null"); }});
    const bool cairo = has("pdftocairo") || (s.type == kOutputJPEG && s.colorModel != kColorCMYK);
    if (cairo) {
        const std::string cairoFormat = s.type == kOutputJPEG ? "-jpeg -jpegopt quality=" + std::to_string(static_cast<int>(s.quality * 100))
                                        : s.type == kOutputTIFF ? "-tiff" : "-png";
        contestants.push_back({"pdftocairo", [=] {
                                   return RunShell("pdftocairo", "pdftocairo -q " + cairoFormat +
                                                                     (s.colorModel == kColorGray ? " -gray" : "") + pages_ +
                                                                     " @OUT@/p 2>/dev/null");
                               }});
    }

    RunRounds(contestants, s.repeat);
    PrintOurRuns(contestants[0].runs, count, budgetMiB, workers);

    const std::vector<Run>& ours = contestants[0].runs;
    std::printf("\n%-22s %9s %9s %11s %11s %11s %11s %9s\n", "peer", "min s", "median s", "÷ours min", "÷ours median",
                "cpu÷ours", "bytes÷ours", "peak MiB");
    std::vector<double> fastestMutool;
    for (std::size_t k = 1; k < contestants.size(); ++k) {
        const Contestant& c = contestants[k];
        std::vector<double> ratios, cpu;
        for (std::size_t r = 0; r < c.runs.size(); ++r) {
            ratios.push_back(c.runs[r].seconds / ours[r].seconds);
            cpu.push_back(c.runs[r].cpu() / std::max(1e-9, ours[r].cpu()));
        }
        const std::vector<double> wall = Field(c.runs, [](const Run& r) { return r.seconds; });
        const std::vector<double> peaks = Field(c.runs, [](const Run& r) { return r.peakMiB; });
        bool ok = true;
        for (const Run& r : c.runs) ok = ok && r.ok;
        std::printf("%-22s %9.3f %9.3f %11.2f %11.2f %11.2f %11.2f %9.1f%s\n", c.name.c_str(), Min(wall), Median(wall),
                    Min(ratios), Median(ratios), Median(cpu),
                    static_cast<double>(c.runs.back().bytes) / std::max<std::uintmax_t>(1, ours.back().bytes),
                    Max(peaks), ok ? "" : "  (exit status not 0)");
    }
    // The fastest of mutool draw's ways, round by round.
    for (std::size_t r = 0; r < ours.size(); ++r) {
        double best = 0;
        for (std::size_t k = 1; k < contestants.size(); ++k)
            if (contestants[k].mutool && (best == 0 || contestants[k].runs[r].seconds < best))
                best = contestants[k].runs[r].seconds;
        if (best > 0) fastestMutool.push_back(best / ours[r].seconds);
    }
    if (!fastestMutool.empty())
        std::printf("fastest mutool draw ÷ ours: min %.2f, median %.2f over %zu rounds\n", Min(fastestMutool),
                    Median(fastestMutool), fastestMutool.size());
    if (cairo) {
        std::vector<double> perPage;
        for (std::size_t r = 0; r < ours.size(); ++r)
            perPage.push_back(ours[r].cpu() / std::max(1e-9, contestants.back().runs[r].cpu()));
        std::printf("processor time ours ÷ pdftocairo (one thread): min %.2f, median %.2f (ours %.3f s a page)\n",
                    Min(perPage), Median(perPage), Median(Field(ours, [](const Run& r) { return r.cpu(); })) / count);
    }
    // A failed conversion fails the run, whatever the peers do.
    return OursFailed(ours) ? 1 : 0;
}
