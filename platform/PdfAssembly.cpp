#include "platform/PdfAssembly.h"

#include <libdeflate.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace platform {

namespace {

struct Source {
    std::vector<std::uint8_t> bytes;  // read by `pdf` lazily, kept until the write
    QPDF pdf;
};

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

std::optional<std::string> Deflated(const std::vector<std::uint8_t>& data) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
    if (!compressor) return std::nullopt;
    std::string out(libdeflate_zlib_compress_bound(compressor, data.size()), '\0');
    const std::size_t size = libdeflate_zlib_compress(compressor, data.data(), data.size(), out.data(), out.size());
    libdeflate_free_compressor(compressor);
    if (size == 0) return std::nullopt;
    out.resize(size);
    return out;
}

std::string RandomPassword() {
    std::random_device device;
    std::string password;
    for (int i = 0; i < 32; ++i) password += "0123456789abcdef"[device() % 16];
    return password;
}

}  // namespace

struct PdfBuilder::Impl {
    QPDF pdf;
    std::vector<std::unique_ptr<Source>> sources;

    std::vector<QPDFPageObjectHelper> Pages() { return QPDFPageDocumentHelper(pdf).getAllPages(); }

    void Insert(QPDFPageObjectHelper page, int index) {
        QPDFPageDocumentHelper helper(pdf);
        std::vector<QPDFPageObjectHelper> pages = helper.getAllPages();
        if (index < 0 || index >= static_cast<int>(pages.size()))
            helper.addPage(page, false);
        else
            helper.addPageAt(page, true, pages[static_cast<std::size_t>(index)]);
    }
};

PdfBuilder::PdfBuilder() : impl_(std::make_unique<Impl>()) {
    impl_->pdf.setSuppressWarnings(true);
    impl_->pdf.emptyPDF();
}

PdfBuilder::~PdfBuilder() = default;

int PdfBuilder::PageCount() const {
    try {
        return static_cast<int>(impl_->Pages().size());
    } catch (const std::exception&) {
        return 0;
    }
}

int PdfBuilder::InsertPdfPages(std::vector<std::uint8_t> bytes, int index) {
    try {
        auto source = std::make_unique<Source>();
        source->bytes = std::move(bytes);
        source->pdf.setSuppressWarnings(true);
        source->pdf.processMemoryFile("document", reinterpret_cast<const char*>(source->bytes.data()),
                                      source->bytes.size());
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(source->pdf).getAllPages();
        int inserted = 0;
        for (QPDFPageObjectHelper& page : pages) {
            impl_->Insert(page, index < 0 ? -1 : index + inserted);
            ++inserted;
        }
        impl_->sources.push_back(std::move(source));
        return inserted;
    } catch (const std::exception&) {
        return 0;
    }
}

int PdfBuilder::InsertPdfFile(const std::filesystem::path& file, int index) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return 0;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return 0;
    return InsertPdfPages(std::move(bytes), index);
}

bool PdfBuilder::RemovePage(int index) {
    try {
        std::vector<QPDFPageObjectHelper> pages = impl_->Pages();
        if (index < 0 || index >= static_cast<int>(pages.size())) return false;
        QPDFPageDocumentHelper(impl_->pdf).removePage(pages[static_cast<std::size_t>(index)]);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool PdfBuilder::InsertPicturePage(const PdfPicture& picture, const PdfPictureFrame& frame, int index) {
    const auto sane = [](double v) { return std::isfinite(v) && v > 0 && v <= 14400 * 200; };
    if (picture.width <= 0 || picture.height <= 0 || picture.data.empty()) return false;
    if (!sane(frame.pageWidth) || !sane(frame.pageHeight) || !sane(frame.width) || !sane(frame.height) ||
        !std::isfinite(frame.x) || !std::isfinite(frame.y))
        return false;
    const int components = picture.components;
    if (components != 1 && components != 3 && components != 4) return false;
    try {
        QPDF& pdf = impl_->pdf;
        QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
        dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        dict.replaceKey("/Width", QPDFObjectHandle::newInteger(picture.width));
        dict.replaceKey("/Height", QPDFObjectHandle::newInteger(picture.height));
        const char* space = components == 1 ? "/DeviceGray" : components == 4 ? "/DeviceCMYK" : "/DeviceRGB";
        std::string data;
        switch (picture.encoding) {
            case PdfPicture::Encoding::DCT:
                dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(space));
                dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
                dict.replaceKey("/Filter", QPDFObjectHandle::newName("/DCTDecode"));
                if (components == 4)
                    dict.replaceKey("/Decode", QPDFObjectHandle::parse("[1 0 1 0 1 0 1 0]"));
                data.assign(picture.data.begin(), picture.data.end());
                break;
            case PdfPicture::Encoding::JPX:
                // The colour space and depth are the codestream's own.
                dict.replaceKey("/Filter", QPDFObjectHandle::newName("/JPXDecode"));
                data.assign(picture.data.begin(), picture.data.end());
                break;
            case PdfPicture::Encoding::Flate: {
                const std::size_t expected =
                    static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * components;
                if (picture.data.size() != expected) return false;
                dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(space));
                dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
                dict.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
                std::optional<std::string> packed = Deflated(picture.data);
                if (!packed) return false;
                data = std::move(*packed);
                if (!picture.alpha.empty()) {
                    if (picture.alpha.size() != static_cast<std::size_t>(picture.width) * picture.height) return false;
                    std::optional<std::string> mask = Deflated(picture.alpha);
                    if (!mask) return false;
                    QPDFObjectHandle maskStream = QPDFObjectHandle::newStream(&pdf, *mask);
                    QPDFObjectHandle maskDict = maskStream.getDict();
                    maskDict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
                    maskDict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
                    maskDict.replaceKey("/Width", QPDFObjectHandle::newInteger(picture.width));
                    maskDict.replaceKey("/Height", QPDFObjectHandle::newInteger(picture.height));
                    maskDict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
                    maskDict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
                    maskDict.replaceKey("/Filter", QPDFObjectHandle::newName("/FlateDecode"));
                    dict.replaceKey("/SMask", maskStream);
                }
                break;
            }
        }
        QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, data);
        for (const std::string& key : dict.getKeys()) image.getDict().replaceKey(key, dict.getKey(key));

        const std::string content = "q " + Number(frame.width) + " 0 0 " + Number(frame.height) + " " +
                                    Number(frame.x) + " " + Number(frame.y) + " cm /Im0 Do Q\n";
        QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, content);
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Im0", image);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
        page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        page.replaceKey("/MediaBox", QPDFObjectHandle::parse("[0 0 " + Number(frame.pageWidth) + " " +
                                                             Number(frame.pageHeight) + "]"));
        page.replaceKey("/Contents", contents);
        page.replaceKey("/Resources", resources);
        impl_->Insert(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), index);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::vector<std::uint8_t>> PdfBuilder::Write(const PdfWriteOptions& options) const {
    try {
        QPDF& pdf = impl_->pdf;
        if (impl_->Pages().empty()) return std::nullopt;
        QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
        const auto set = [&](const char* key, const std::optional<std::string>& value) {
            if (value) info.replaceKey(key, QPDFObjectHandle::newUnicodeString(*value));
        };
        set("/Title", options.title);
        set("/Author", options.author);
        set("/Subject", options.subject);
        set("/Keywords", options.keywords);
        set("/Creator", options.creator);
        if (!info.getKeys().empty()) pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
        else pdf.getTrailer().removeKey("/Info");

        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        // Only the options decide the encryption, never a source's.
        writer.setPreserveEncryption(false);
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setCompressStreams(true);
        writer.setObjectStreamMode(qpdf_o_generate);
        const std::string user = options.userPassword.value_or("");
        std::string owner = options.ownerPassword.value_or("");
        const bool restricted = !options.allowsPrinting || !options.allowsCopying;
        if (!user.empty() || !owner.empty() || restricted) {
            // Without an owner password of their own, restrictions would be lifted by the user password.
            if (owner.empty()) owner = restricted || user.empty() ? RandomPassword() : user;
            writer.setR6EncryptionParameters(user.c_str(), owner.c_str(), true, options.allowsCopying, true, true, true,
                                             true, options.allowsPrinting ? qpdf_r3p_full : qpdf_r3p_none, true);
        }
        writer.write();
        std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
        if (!written || written->getSize() == 0) return std::nullopt;
        return std::vector<std::uint8_t>(written->getBuffer(), written->getBuffer() + written->getSize());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace platform
