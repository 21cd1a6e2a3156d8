// Extracts every image of the given PDFs as PNG through the engine and times it against
// `pdfimages -png` and `mutool extract` on the same files in the same run, in alternating
// rounds; prints each round and the best of each, with the ratios.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "engine/ImageConversion.h"
#include "engine/extraction/ImageExtractor.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::size_t FileCount(const fs::path& folder) {
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) n += entry.is_regular_file() ? 1 : 0;
    return n;
}

fs::path FreshFolder(const char* name) {
    fs::path folder = fs::temp_directory_path() / ("vellipse-extract-bench-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

struct Result {
    double seconds = 0;
    std::size_t files = 0;
};

Result Ours(const std::vector<fs::path>& pdfs, const fs::path& keep = {}) {
    const fs::path folder = keep.empty() ? FreshFolder("ours") : keep;
    const auto start = std::chrono::steady_clock::now();
    for (const fs::path& pdf : pdfs) {
        ImageConversion record{};
        record.sourceURL = pdf;
        record.outputFolderURL = folder;
        record.conversionOptions.imageType = kOutputPNG;
        record.conversionOptions.password = "";
        ExtractImagesFromPDF(&record);
    }
    Result r{Seconds(start), FileCount(folder)};
    if (keep.empty()) fs::remove_all(folder);
    return r;
}

Result Shell(const std::vector<fs::path>& pdfs, bool mutool) {
    const fs::path folder = FreshFolder(mutool ? "mutool" : "pdfimages");
    std::string command = "cd " + Quoted(folder.string()) + " && true";
    for (std::size_t i = 0; i < pdfs.size(); ++i) {
        const std::string pdf = Quoted(fs::absolute(pdfs[i]).string());
        command += mutool ? " && mutool extract " + pdf + " >/dev/null 2>&1"
                          : " && pdfimages -png " + pdf + " f" + std::to_string(i) + " 2>/dev/null";
    }
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    Result r{Seconds(start), FileCount(folder)};
    if (status != 0) std::fprintf(stderr, "%s failed (%d)\n", mutool ? "mutool extract" : "pdfimages", status);
    fs::remove_all(folder);
    return r;
}

// A PDF of two pages: a 4000 x 4000 DeviceN image of two colorants with a calculator tint
// transform, and a 4000 x 4000 Separation image with a sampled one.
fs::path ColourSpacePdf() {
    const fs::path path = fs::temp_directory_path() / ("vellipse-extract-bench-" + std::to_string(getpid()) + ".pdf");
    QPDF pdf;
    pdf.emptyPDF();
    const int size = 4000;
    std::string twoColorants(static_cast<std::size_t>(size) * size * 2, '\0');
    std::string tints(static_cast<std::size_t>(size) * size, '\0');
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * size + x;
            twoColorants[2 * i] = static_cast<char>(x * 255 / (size - 1));
            twoColorants[2 * i + 1] = static_cast<char>(y * 255 / (size - 1));
            tints[i] = static_cast<char>((x + y) * 255 / (2 * size - 2));
        }
    auto stream = [&](const std::string& dict, const std::string& data) {
        QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, data);
        QPDFObjectHandle d = QPDFObjectHandle::parse(&pdf, dict);
        for (const std::string& key : d.getKeys()) s.getDict().replaceKey(key, d.getKey(key));
        return pdf.makeIndirectObject(s);
    };
    auto ref = [](QPDFObjectHandle o) { return std::to_string(o.getObjectID()) + " 0 R"; };
    QPDFObjectHandle calculator = stream("<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 1] >>",
                                         "{ 2 copy mul 3 1 roll exch 1 exch sub exch 0.5 mul 0 }");
    std::string table;
    for (int i = 0; i < 256; ++i) {
        table.push_back(static_cast<char>(i));
        table.push_back(static_cast<char>(255 - i));
        table.push_back(static_cast<char>(i / 2));
    }
    QPDFObjectHandle sampled = stream("<< /FunctionType 0 /Domain [0 1] /Range [0 1 0 1 0 1] /Size [256] /BitsPerSample 8 >>", table);
    QPDFObjectHandle deviceN = stream("<< /Type /XObject /Subtype /Image /Width 4000 /Height 4000 /BitsPerComponent 8 "
                                      "/ColorSpace [/DeviceN [/Cyan /Spot] /DeviceCMYK " + ref(calculator) + "] >>",
                                      twoColorants);
    QPDFObjectHandle separation = stream("<< /Type /XObject /Subtype /Image /Width 4000 /Height 4000 /BitsPerComponent 8 "
                                         "/ColorSpace [/Separation /Spot /DeviceRGB " + ref(sampled) + "] >>", tints);
    for (QPDFObjectHandle image : {deviceN, separation}) {
        QPDFObjectHandle page = QPDFObjectHandle::parse(&pdf, "<< /Type /Page /MediaBox [0 0 100 100] /Resources << /XObject << /Im " +
                                                                  ref(image) + " >> >> >>");
        page.replaceKey("/Contents", pdf.makeIndirectObject(QPDFObjectHandle::newStream(&pdf, "q 100 0 0 100 0 0 cm /Im Do Q")));
        QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);
    }
    QPDFWriter writer(pdf, path.c_str());
    writer.setStreamDataMode(qpdf_s_compress);
    writer.write();
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::vector<fs::path> pdfs;
    fs::path keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--out" && i + 1 < argc)
            keep = argv[++i];
        else if (a == "--colour-spaces")
            pdfs.push_back(ColourSpacePdf());
        else
            pdfs.emplace_back(a);
    }
    if (pdfs.empty()) {
        std::fprintf(stderr, "usage: vellipse_extract_bench [--repeat N] [--out DIR] [--colour-spaces] file.pdf...\n"
                             "  --out DIR          only extract, with the engine, into DIR and keep the files\n"
                             "  --colour-spaces    also a PDF of a DeviceN and a Separation image, 4000 x 4000 each\n");
        return 2;
    }
    if (!keep.empty()) {
        fs::create_directories(keep);
        const Result r = Ours(pdfs, keep);
        std::printf("%.3f s  %zu files\n", r.seconds, r.files);
        return 0;
    }
    Result best[3];
    const char* names[3] = {"vellipse", "pdfimages -png", "mutool extract"};
    for (int r = 0; r < rounds; ++r) {
        const Result results[3] = {Ours(pdfs), Shell(pdfs, false), Shell(pdfs, true)};
        for (int k = 0; k < 3; ++k) {
            std::printf("round %d  %-15s %8.3f s  %zu files\n", r + 1, names[k], results[k].seconds, results[k].files);
            if (r == 0 || results[k].seconds < best[k].seconds) best[k] = results[k];
        }
    }
    for (int k = 0; k < 3; ++k) std::printf("best     %-15s %8.3f s  %zu files\n", names[k], best[k].seconds, best[k].files);
    std::printf("ratio vellipse / pdfimages -png: %.2f\n", best[0].seconds / best[1].seconds);
    std::printf("ratio vellipse / mutool extract: %.2f\n", best[0].seconds / best[2].seconds);
    return 0;
}
