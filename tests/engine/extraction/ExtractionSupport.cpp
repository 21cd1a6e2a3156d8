#include "engine/extraction/ExtractionSupport.h"

#include <gtest/gtest.h>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/extraction/ImageExtractor.h"
#include "support/MagickReader.h"

namespace testextract {
namespace fs = std::filesystem;

PdfBuilder::PdfBuilder() { pdf_.emptyPDF(); }

QPDFObjectHandle PdfBuilder::Image(const std::string& dict, const std::string& data) {
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf_, data);
    QPDFObjectHandle parsed = QPDFObjectHandle::parse(&pdf_, "<< /Type /XObject /Subtype /Image " + dict + " >>");
    QPDFObjectHandle d = stream.getDict();
    for (const std::string& key : parsed.getKeys()) d.replaceKey(key, parsed.getKey(key));
    return pdf_.makeIndirectObject(stream);
}

QPDFObjectHandle PdfBuilder::Form(QPDFObjectHandle resources, const std::string& content) {
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf_, content);
    QPDFObjectHandle d = stream.getDict();
    d.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    d.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    d.replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 1 1]"));
    if (!resources.isNull()) d.replaceKey("/Resources", resources);
    return pdf_.makeIndirectObject(stream);
}

QPDFObjectHandle PdfBuilder::AddPage(QPDFObjectHandle resources, const std::string& content) {
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 100 100] >>");
    page.replaceKey("/Contents", pdf_.makeIndirectObject(QPDFObjectHandle::newStream(&pdf_, content)));
    if (!resources.isNull()) page.replaceKey("/Resources", resources);
    page = pdf_.makeIndirectObject(page);
    QPDFPageDocumentHelper(pdf_).addPage(page, false);
    return page;
}

QPDFObjectHandle PdfBuilder::XObjects(const std::vector<std::pair<std::string, QPDFObjectHandle>>& entries) {
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    for (const auto& [name, object] : entries) xobjects.replaceKey(name, object);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    return resources;
}

void PdfBuilder::Write(const fs::path& path, const std::string& userPassword) {
    QPDFWriter writer(pdf_, path.c_str());
    writer.setStaticID(true);
    if (!userPassword.empty())
        writer.setR6EncryptionParameters(userPassword.c_str(), "owner-secret", true, true, true, true, true, true,
                                         qpdf_r3p_full, true);
    writer.write();
}

Run Extract(const fs::path& pdf, const fs::path& folder, const Options& options) {
    ImageConversion record{};
    record.sourceURL = pdf;
    record.outputFolderURL = folder;
    record.outputBaseName = options.baseName;
    record.conversionOptions.imageType = options.type;
    record.conversionOptions.compressionQuality = 0.9;
    record.conversionOptions.password = options.password;
    record.conversionOptions.pageRangeType = options.rangeType;
    record.conversionOptions.startPage = options.startPage;
    record.conversionOptions.endPage = options.endPage;
    if (options.progress) {
        record.progressCallback.progressTarget = options.progress;
        record.progressCallback.progressSelector = &ProgressTarget::UpdatePageProgressStatus;
    }
    Run run;
    run.result = ExtractImagesFromPDF(&record);
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder)) run.files.push_back(entry.path().filename().string());
    std::sort(run.files.begin(), run.files.end());
    return run;
}

std::vector<std::uint8_t> PdfImagesSamples(const fs::path& pdf, const fs::path& folder, const std::string& mode) {
    const std::vector<PeerImage> peer = PdfImages(pdf, folder);
    if (peer.size() != 1) {
        ADD_FAILURE() << "pdfimages wrote " << peer.size() << " images";
        return {};
    }
    return Read(peer[0].file, mode).pixels;
}

void ExpectSamplesNear(const std::vector<std::uint8_t>& ours, const std::vector<std::uint8_t>& theirs, int tolerance) {
    ASSERT_EQ(ours.size(), theirs.size());
    for (std::size_t i = 0; i < ours.size(); ++i) EXPECT_NEAR(ours[i], theirs[i], tolerance) << "sample " << i;
}

std::vector<PeerImage> PdfImages(const fs::path& pdf, const fs::path& folder, const std::string& format) {
    fs::create_directories(folder);
    const std::string quoted = testimage::ShellQuote(pdf.string());
    std::vector<PeerImage> images;
    std::string list;
    if (FILE* p = popen(("pdfimages -list " + quoted + " 2>/dev/null").c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) list += buf;
        pclose(p);
    }
    std::istringstream lines(list);
    std::string line;
    int row = 0;
    while (std::getline(lines, line)) {
        if (row++ < 2) continue;
        std::istringstream fields(line);
        PeerImage image;
        int number = 0;
        fields >> image.page >> number >> image.type;
        if (!fields) continue;
        images.push_back(image);
    }
    const std::string command = "pdfimages " + format + " " + quoted + " " + testimage::ShellQuote((folder / "p").string()) +
                                " 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files.size(), images.size()) << pdf;
    for (std::size_t i = 0; i < images.size() && i < files.size(); ++i) images[i].file = files[i];
    return images;
}

testimage::Decoded Read(const fs::path& file, const std::string& mode) {
    testimage::Decoded d = testimage::DecodeWithPil(file, mode);
    EXPECT_TRUE(d.ok()) << file << ": " << d.error;
    return d;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace testextract
