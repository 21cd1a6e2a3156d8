#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ImageConversion.h"
#include "support/ImageReader.h"

// Test PDFs made with QPDF for the extraction, the extraction run over them, and poppler's
// pdfimages over the same files for comparison.
namespace testextract {

class PdfBuilder {
public:
    PdfBuilder();
    QPDF& document() { return pdf_; }
    // An indirect image stream: `dict` is the dictionary's text (without << >>), `data` the
    // stream's bytes as stored (encoded as /Filter says).
    QPDFObjectHandle Image(const std::string& dict, const std::string& data);
    // An indirect form XObject with the given resources dictionary (or null).
    QPDFObjectHandle Form(QPDFObjectHandle resources, const std::string& content = "");
    // A 100 x 100 page; `resources` may be null (the page then has no /Resources of its own).
    QPDFObjectHandle AddPage(QPDFObjectHandle resources, const std::string& content = "");
    // A resources dictionary with the given XObjects, by name.
    static QPDFObjectHandle XObjects(const std::vector<std::pair<std::string, QPDFObjectHandle>>& entries);
    void Write(const std::filesystem::path& path, const std::string& userPassword = "");

private:
    QPDF pdf_;
};

struct Run {
    std::uint8_t result = 0;
    std::vector<std::string> files;  // names in the output folder, sorted
};

struct Options {
    std::int32_t type = kOutputPNG;
    std::int32_t rangeType = kPageRangeAll;
    std::int64_t startPage = 0;
    std::int64_t endPage = 0;
    std::optional<std::string> baseName;
    std::optional<std::string> password = std::string();
    ProgressTarget* progress = nullptr;
};

Run Extract(const std::filesystem::path& pdf, const std::filesystem::path& folder, const Options& options = {});

// The images pdfimages writes for a file, its smasks apart: one entry per image of its list.
struct PeerImage {
    int page = 0;
    std::string type;  // "image", "smask", "mask", "stencil"
    std::filesystem::path file;
};
std::vector<PeerImage> PdfImages(const std::filesystem::path& pdf, const std::filesystem::path& folder,
                                 const std::string& format = "-png");

// A file decoded by Pillow in `mode`; fails the test when it cannot be read.
testimage::Decoded Read(const std::filesystem::path& file, const std::string& mode);

// The samples of the one image pdfimages writes for `pdf` (into `folder`), decoded in `mode`;
// fails the test, with no samples, when it writes another number of images.
std::vector<std::uint8_t> PdfImagesSamples(const std::filesystem::path& pdf, const std::filesystem::path& folder,
                                           const std::string& mode);

// Our samples against a peer's: the same count, each within `tolerance`.
void ExpectSamplesNear(const std::vector<std::uint8_t>& ours, const std::vector<std::uint8_t>& theirs, int tolerance);

// Raw bytes of a file.
std::string ReadBytes(const std::filesystem::path& file);

}  // namespace testextract
