// Times CopyFileContents and ReplaceFileAtURL against cp on the same file and file system, in
// alternating rounds, and prints the best and median times and their ratios.
//
//   vellipse_copy_bench [--size BYTES] [--rounds N] [--dir FOLDER] [--other FOLDER] [--only copy|replace]
//
// FOLDER holds the source and the copies (default: the system temporary folder); --other names a
// folder on another file system for the copy and the replace that come from there (default
// /dev/shm when it is one). Dirty pages are written out (sync) before every timed step, outside the timing.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Common UI Code/OVXUtil.h"
#include "../BenchTiming.h"

namespace fs = std::filesystem;

namespace {

using bench::Quote;

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

template <typename F>
double Seconds(F&& f) {
    Run("sync");
    return bench::Seconds(std::forward<F>(f));
}

void MakeSource(const fs::path& file, std::uint64_t size) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) {
        std::perror("source");
        std::exit(1);
    }
    std::vector<std::uint64_t> block(1 << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t written = 0; written < size;) {
        for (std::uint64_t& v : block) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            v = state;
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size() * 8, size - written));
        if (std::fwrite(block.data(), 1, n, out) != n) {
            std::perror("source");
            std::exit(1);
        }
        written += n;
    }
    std::fclose(out);
}

bool SameDevice(const fs::path& a, const fs::path& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

struct Series {
    std::vector<double> times;
    double best() const { return *std::min_element(times.begin(), times.end()); }
    double median() const {
        std::vector<double> t = times;
        std::sort(t.begin(), t.end());
        const std::size_t n = t.size();
        return n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::uint64_t size = 2'000'000'000;
    int rounds = 5;
    fs::path dir = fs::temp_directory_path();
    fs::path other = "/dev/shm";
    std::string only;  // "copy" or "replace": time only those
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--size") size = std::strtoull(argv[i + 1], nullptr, 10);
        else if (flag == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--dir") dir = argv[i + 1];
        else if (flag == "--other") other = argv[i + 1];
        else if (flag == "--only") only = argv[i + 1];
    }
    const fs::path work = dir / ("vellipse-copy-bench-" + std::to_string(::getpid()));
    const fs::path otherWork = other / ("vellipse-copy-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const bool crossDevice = fs::is_directory(other) && !SameDevice(work, other);
    if (crossDevice) fs::create_directories(otherWork);

    const fs::path source = work / "source", copy = work / "copy", target = work / "target";
    MakeSource(source, size);
    std::printf("file of %llu bytes in %s; %d rounds%s\n", static_cast<unsigned long long>(size), work.c_str(), rounds,
                crossDevice ? (", replace across file systems from " + otherWork.string()).c_str() : "");

    std::map<std::string, Series> series;
    // One timed step of ours and one of the peer, in the round's order: alternating which goes
    // first, so that neither always meets the other's writeback. `before` readies each step.
    const auto pair = [&](int round, const std::string& oursName, const std::function<void()>& oursStep,
                          const std::string& peerName, const std::string& peerCommand,
                          const std::function<void()>& before, const std::function<void()>& after) {
        for (int pass = 0; pass < 2; ++pass) {
            before();
            if ((pass == 0) == (round % 2 == 0)) series[oursName].times.push_back(Seconds(oursStep));
            else series[peerName].times.push_back(Seconds([&] { Run(peerCommand); }));
            after();
        }
    };
    const auto nothing = [] {};
    for (int round = 0; round < rounds; ++round) {
        // A new copy, from the same file system and (when there is one) from another.
        for (const bool across : {false, true}) {
            if (only == "replace" || (across && !crossDevice)) continue;
            const fs::path from = across ? otherWork / "source" : source;
            const std::string suffix = across ? " (across)" : "";
            if (across) Run("cp " + Quote(source) + " " + Quote(from));
            pair(
                round, "CopyFileContents" + suffix,
                [&] {
                    if (CopyFileContents(from.c_str(), copy.c_str()) != 0) std::exit(1);
                },
                "cp" + suffix, "cp " + Quote(from) + " " + Quote(copy), nothing, [&] { fs::remove(copy); });
            if (across) fs::remove(from);
        }
        // Replacing an existing target: from another file system the bytes are copied, on
        // the same one the new file is renamed into place. The peer copies over the target.
        for (const bool across : {true, false}) {
            if (only == "copy" || (across && !crossDevice)) continue;
            const fs::path incoming = (across ? otherWork : work) / "new";
            const std::string suffix = across ? " (across)" : " (same)";
            pair(
                round, "ReplaceFileAtURL" + suffix,
                [&] {
                    if (!ReplaceFileAtURL(incoming, target)) std::exit(1);
                },
                "cp over the target" + suffix, "cp " + Quote(incoming) + " " + Quote(target),
                [&] {
                    Run("cp " + Quote(source) + " " + Quote(incoming));
                    Run("cp " + Quote(source) + " " + Quote(target));
                },
                [&] {
                    fs::remove(incoming);
                    fs::remove(target);
                });
        }
    }

    for (const auto& [name, s] : series) {
        std::printf("%-30s best %.3f s, median %.3f s (%zu runs:", name.c_str(), s.best(), s.median(), s.times.size());
        for (const double t : s.times) std::printf(" %.2f", t);
        std::printf(")\n");
    }
    const auto ratio = [&](const char* ours, const char* peer) {
        if (!series.count(ours) || !series.count(peer)) return;
        std::printf("ratio %s / %s: %.3f (best), %.3f (median)\n", ours, peer, series[ours].best() / series[peer].best(),
                    series[ours].median() / series[peer].median());
    };
    ratio("CopyFileContents", "cp");
    ratio("CopyFileContents (across)", "cp (across)");
    ratio("ReplaceFileAtURL (across)", "cp over the target (across)");
    ratio("ReplaceFileAtURL (same)", "cp over the target (same)");
    fs::remove_all(work);
    if (crossDevice) fs::remove_all(otherWork);
    return 0;
}
