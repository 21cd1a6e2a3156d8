#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Small PDFs that tests write with QPDF.
namespace testpdf {

struct Page {
    double width = 612;
    double height = 792;
    int rotate = 0;
    bool cropBox = false;       // write a /CropBox (with cropRect below)
    double cropRect[4] = {0, 0, 0, 0};
    bool mediaBox = true;       // write a /MediaBox of width x height
    std::string content;        // content stream; a default drawing when empty
    double userUnit = 0;        // write a /UserUnit when above 0
};

enum class Encryption { None, RC4_40, RC4_128, AES_128, AES_256 };

struct Options {
    std::vector<Page> pages{Page{}};
    Encryption encryption = Encryption::None;
    std::string userPassword;
    std::string ownerPassword;
};

// Writes the PDF and returns its path.
std::filesystem::path Write(const std::filesystem::path& path, const Options& options);

// Writes a PDF of exactly these objects (numbered from 1; object 1 is the catalog) with a
// correct cross-reference table, for structures QPDF would mend on writing (a page tree that
// lies about its count or loops back on itself).
std::filesystem::path WriteRaw(const std::filesystem::path& path, const std::vector<std::string>& objects);

// A stream object's text holding `data`.
std::string RawStream(const std::string& data, const std::string& dictionary = "");

// A fresh empty folder under the system temporary folder, removed when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The real PDFs of the shared corpus (read-only).
std::vector<std::filesystem::path> CorpusPdfs();
std::filesystem::path CorpusDir();

}  // namespace testpdf
