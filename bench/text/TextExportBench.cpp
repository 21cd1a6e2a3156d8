// Times the text export of a PDF as one UTF-8 file and as one file per page against poppler's
// pdftotext on the same file, in alternating rounds; prints best and median times and ratios.
//
//   vellipse_text_bench FILE.pdf [--rounds N]
//
// pdftotext's peers: one run over the whole file, and one run per page (what a shell user does
// to get a file per page).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "engine/textexport/PDFTextExport.h"
#include "platform/PdfText.h"
#include "../BenchTiming.h"

namespace fs = std::filesystem;

namespace {

using bench::Quote;
using bench::Seconds;
using bench::Series;

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.pdf [--rounds N]\n", argv[0]);
        return 2;
    }
    const fs::path pdf = fs::absolute(argv[1]);
    int rounds = 5;
    for (int i = 2; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    auto reader = platform::PdfTextReader::Open(pdf, std::nullopt);
    if (!reader) {
        std::fprintf(stderr, "not a PDF: %s\n", pdf.c_str());
        return 1;
    }
    const int pages = reader->PageCount();
    const fs::path work = fs::temp_directory_path() / ("vellipse-text-bench-" + std::to_string(::getpid()));
    std::printf("file %s, %d pages, %d rounds, %u processors\n", pdf.filename().c_str(), pages, rounds,
                std::thread::hardware_concurrency());

    std::map<std::string, Series> series;
    const auto fresh = [&] {
        fs::remove_all(work);
        fs::create_directories(work);
    };
    const auto run = [](const std::string& command) {
        if (std::system(command.c_str()) != 0) std::exit(1);
    };
    for (int round = 0; round < rounds; ++round) {
        for (int onePerPage = 0; onePerPage < 2; ++onePerPage) {
            const std::string mode = onePerPage ? " (a file per page)" : " (one file)";
            const auto ours = [&] {
                fresh();
                PDFToTextConversion r;
                r.sourceURL = pdf;
                r.destinationURL = work;
                r.outputExtension = "txt";
                r.textOutputKind = kTextUTF8;
                r.onePerPage = onePerPage;
                series["vellipse" + mode].times.push_back(Seconds([&] {
                    if (ConvertPDFToTextDocuments(&r) != 1) std::exit(1);
                }));
            };
            const auto peer = [&] {
                fresh();
                std::string command = "pdftotext -q -enc UTF-8 " + Quote(pdf) + " " + Quote(work / "out.txt");
                if (onePerPage) {
                    command = "for p in $(seq 1 " + std::to_string(pages) + "); do pdftotext -q -enc UTF-8 -f $p -l $p " +
                              Quote(pdf) + " " + Quote(work) + "/out-$p.txt || exit 1; done";
                }
                series["pdftotext" + mode].times.push_back(Seconds([&] { run(command); }));
            };
            if (round % 2 == 0) {
                ours();
                peer();
            } else {
                peer();
                ours();
            }
        }
    }
    fs::remove_all(work);
    for (const auto& [name, s] : series)
        std::printf("%-30s best %.3f s, median %.3f s (%zu runs)\n", name.c_str(), s.best(), s.median(), s.times.size());
    for (const char* mode : {" (one file)", " (a file per page)"}) {
        const Series& a = series[std::string("vellipse") + mode];
        const Series& b = series[std::string("pdftotext") + mode];
        std::printf("ratio vellipse/pdftotext%s: %.3f (best), %.3f (median)\n", mode, a.best() / b.best(),
                    a.median() / b.median());
    }
    return 0;
}
