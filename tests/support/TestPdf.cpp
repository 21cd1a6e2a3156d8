#include "support/TestPdf.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <random>

namespace testpdf {
namespace fs = std::filesystem;

namespace {
QPDFObjectHandle Rect(double a, double b, double c, double d) {
    return QPDFObjectHandle::newArray({QPDFObjectHandle::newReal(a, 3), QPDFObjectHandle::newReal(b, 3),
                                       QPDFObjectHandle::newReal(c, 3), QPDFObjectHandle::newReal(d, 3)});
}
}  // namespace

fs::path Write(const fs::path& path, const Options& options) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper pages(pdf);
    for (const Page& p : options.pages) {
        std::string content = p.content;
        if (content.empty()) {
            // A red square in the lower left and a blue bar at the top: shows position and turn.
            content = "1 0 0 rg 36 36 144 144 re f 0 0 1 rg 0 " + std::to_string(p.height - 72) + " " +
                      std::to_string(p.width) + " 72 re f\n";
        }
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf, content);
        QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /Resources << >> >>");
        if (p.mediaBox) page.replaceKey("/MediaBox", Rect(0, 0, p.width, p.height));
        if (p.cropBox) page.replaceKey("/CropBox", Rect(p.cropRect[0], p.cropRect[1], p.cropRect[2], p.cropRect[3]));
        if (p.rotate) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(p.rotate));
        if (p.userUnit > 0) page.replaceKey("/UserUnit", QPDFObjectHandle::newReal(p.userUnit, 3));
        page.replaceKey("/Contents", stream);
        pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf, path.c_str());
    writer.setStaticID(true);
    const char* user = options.userPassword.c_str();
    const char* owner = options.ownerPassword.c_str();
    switch (options.encryption) {
        case Encryption::None: break;
        case Encryption::RC4_40:
            writer.setR2EncryptionParametersInsecure(user, owner, true, true, true, true);
            break;
        case Encryption::RC4_128:
            writer.setR3EncryptionParametersInsecure(user, owner, true, true, true, true, true, true,
                                                     qpdf_r3p_full);
            break;
        case Encryption::AES_128:
            writer.setR4EncryptionParametersInsecure(user, owner, true, true, true, true, true, true,
                                                     qpdf_r3p_full, true, true);
            break;
        case Encryption::AES_256:
            writer.setR6EncryptionParameters(user, owner, true, true, true, true, true, true, qpdf_r3p_full, true);
            break;
    }
    writer.write();
    return path;
}

fs::path WriteRaw(const fs::path& path, const std::vector<std::string>& objects) {
    std::string out = "%PDF-1.7\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << out;
    return path;
}

std::string RawStream(const std::string& data, const std::string& dictionary) {
    return "<< /Length " + std::to_string(data.size()) + " " + dictionary + " >>\nstream\n" + data + "\nendstream";
}

TempDir::TempDir() {
    std::random_device rd;
    for (;;) {
        path_ = fs::temp_directory_path() / ("vellipse-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(path_, ec)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

fs::path CorpusDir() { return fs::path(VELLIPSE_CORPUS_DIR); }

std::vector<fs::path> CorpusPdfs() {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(CorpusDir(), ec))
        if (entry.path().extension() == ".pdf") out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace testpdf
