// Times the PDF assembly against its peers in alternating rounds: 100 JPEG pictures (pages of a
// corpus PDF drawn by pdftoppm) into one combined PDF and into 100 PDFs, against ImageMagick's
// `convert` (its PDF/A writer) and `img2pdf`; and a 300-page plain text into one PDF. Prints best and median times
// and the ratios. Also merges every PDF of the corpus into one, with an outline entry per file
// and their own outlines, against `qpdf --empty --pages ... --`.
//
//   vellipse_assembly_bench [--rounds N] [--work DIR] [--source FILE.pdf]
//
// The peers of the 100 PDFs run once per picture, as a shell user would.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/pdfassembly/PDFAssembly.h"
#include "../BenchTiming.h"

namespace fs = std::filesystem;

namespace {

using bench::Quote;
using bench::Seconds;
using bench::Series;

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int rounds = 3;
    fs::path work = fs::temp_directory_path() / "vellipse-assembly-bench";
    fs::path source = fs::path(VELLIPSE_CORPUS_DIR) / "GeoTopo-komprimiert.pdf";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        if (option == "--work") work = argv[i + 1];
        if (option == "--source") source = argv[i + 1];
    }
    const fs::path pictures = work / "pictures";
    if (!fs::exists(pictures / "p-100.jpg")) {
        fs::create_directories(pictures);
        Run("pdftoppm -q -jpeg -jpegopt quality=85 -r 100 -f 1 -l 100 " + Quote(source) + " " + Quote(pictures / "p"));
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(pictures))
        if (e.path().extension() == ".jpg") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    const fs::path text = work / "long.txt";
    if (!fs::exists(text)) {
        std::string body;
        for (int line = 0; line < 300 * 46; ++line)
            body += "Line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog, again.\n";
        FILE* f = std::fopen(text.c_str(), "wb");
        std::fwrite(body.data(), 1, body.size(), f);
        std::fclose(f);
    }
    // Debian's ImageMagick policy forbids its PDF writer; its PDF/A writer, the same code with
    // an XMP packet more, is allowed.
    const std::string convert = "convert";
    std::printf("%zu pictures, %d rounds, %u processors\n", files.size(), rounds, std::thread::hardware_concurrency());

    const fs::path out = work / "out";
    const auto fresh = [&] {
        fs::remove_all(out);
        fs::create_directories(out);
    };
    std::string list;
    for (const fs::path& f : files) list += " " + Quote(f);
    std::vector<fs::path> corpus;
    for (const fs::directory_entry& e : fs::directory_iterator(source.parent_path()))
        if (e.path().extension() == ".pdf") corpus.push_back(e.path());
    std::sort(corpus.begin(), corpus.end());
    std::string corpusList;
    for (const fs::path& f : corpus) corpusList += " " + Quote(f);
    std::printf("%zu corpus PDFs to merge\n", corpus.size());
    std::map<std::string, Series> series;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::pair<std::string, std::function<void()>>> cases;
        for (int combine = 1; combine >= 0; --combine) {
            const std::string mode = combine ? " (one PDF)" : " (a PDF each)";
            cases.emplace_back("vellipse" + mode, [&, combine] {
                ImagesToPDFConversion record;
                for (const fs::path& f : files) record.fileList.push_back(AssemblyFileEntry{f, std::nullopt});
                record.combineIntoOne = static_cast<std::uint8_t>(combine);
                record.destinationURL = combine ? out / "all.pdf" : out;
                record.imageType = kOutputJPEG;
                record.compressionQuality = 0.85;
                if (ConvertImagesToPDF(&record) != 1) std::exit(1);
            });
            cases.emplace_back("convert" + mode, [&, combine] {
                if (combine)
                    Run(convert + list + " PDFA:" + Quote(out / "all.pdf"));
                else
                    Run("cd " + Quote(pictures) + " && for f in *.jpg; do " + convert + " \"$f\" PDFA:" + Quote(out) +
                        "/\"${f%.jpg}.pdf\" || exit 1; done");
            });
            cases.emplace_back("img2pdf" + mode, [&, combine] {
                if (combine)
                    Run("img2pdf" + list + " -o " + Quote(out / "all.pdf"));
                else
                    Run("cd " + Quote(pictures) + " && for f in *.jpg; do img2pdf \"$f\" -o " + Quote(out) +
                        "/\"${f%.jpg}.pdf\" || exit 1; done");
            });
        }
        cases.emplace_back("vellipse (merge)", [&] {
            FilesToPDFConversion record;
            record.fileList.emplace();
            for (const fs::path& f : corpus) record.fileList->push_back(FilesToPDFEntry{kFileTypePDF, f, std::nullopt, std::nullopt});
            record.combineIntoOne = 1;
            record.destinationURL = out / "merged.pdf";
            if (ConvertFilesToPDF(&record) != 1) std::exit(1);
        });
        cases.emplace_back("qpdf (merge)", [&] { Run("qpdf --empty --pages" + corpusList + " -- " + Quote(out / "merged.pdf")); });
        cases.emplace_back("vellipse (300-page text)", [&] {
            TextToPDFConversion record;
            record.fileList.push_back(AssemblyFileEntry{text, std::nullopt});
            record.combineIntoOne = 1;
            record.destinationURL = out / "text.pdf";
            if (ConvertTextDocumentsToPDF(&record) != 1) std::exit(1);
        });
        if (round % 2) std::reverse(cases.begin(), cases.end());
        for (auto& [name, run] : cases) {
            fresh();
            series[name].times.push_back(Seconds(run));
        }
    }
    fs::remove_all(out);
    for (const auto& [name, s] : series)
        std::printf("%-28s best %.3f s, median %.3f s (%zu runs)\n", name.c_str(), s.best(), s.median(), s.times.size());
    for (const char* mode : {" (one PDF)", " (a PDF each)"}) {
        const Series& ours = series[std::string("vellipse") + mode];
        for (const char* peer : {"convert", "img2pdf"}) {
            const Series& other = series[std::string(peer) + mode];
            std::printf("ratio vellipse/%s%s: %.3f (best), %.3f (median)\n", peer, mode, ours.best() / other.best(),
                        ours.median() / other.median());
        }
    }
    const Series& merge = series["vellipse (merge)"];
    const Series& qpdf = series["qpdf (merge)"];
    std::printf("ratio vellipse/qpdf (merge): %.3f (best), %.3f (median)\n", merge.best() / qpdf.best(),
                merge.median() / qpdf.median());
    return 0;
}
