#include "platform/PdfAssembly.h"

#include <libdeflate.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
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

// An outline entry of a built document: its page in the document (none: no destination) and
// the view of its destination after the page (none: the top-left corner of the crop box).
struct OutlineNode {
    std::string title;
    QPDFObjectHandle page;
    std::vector<QPDFObjectHandle> view;
    std::vector<OutlineNode> kids;
};

// The /Rotate a page has, its own or inherited.
long long InheritedRotate(QPDFObjectHandle page) {
    for (int depth = 0; depth < 64 && page.isDictionary(); ++depth) {
        QPDFObjectHandle rotate = page.getKey("/Rotate");
        if (rotate.isInteger()) return rotate.getIntValue();
        if (rotate.isReal()) return static_cast<long long>(rotate.getNumericValue());
        page = page.getKey("/Parent");
    }
    return 0;
}

std::optional<std::vector<std::uint8_t>> ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// The destination array an outline item leads to, through its /Dest, a GoTo action and named
// destinations; null when it has none.
QPDFObjectHandle OutlineDestination(QPDFOutlineDocumentHelper& helper, QPDFObjectHandle item) {
    QPDFObjectHandle dest = item.getKey("/Dest");
    if (dest.isNull()) {
        QPDFObjectHandle action = item.getKey("/A");
        if (action.isDictionary() && action.getKey("/S").isName() && action.getKey("/S").getName() == "/GoTo")
            dest = action.getKey("/D");
    }
    if (dest.isName() || dest.isString()) dest = helper.resolveNamedDest(dest);
    if (dest.isDictionary()) dest = dest.getKey("/D");
    return dest.isArray() ? dest : QPDFObjectHandle::newNull();
}

// The items of one level of a source's outline, from `item` on; each item is taken once, so a
// cycle ends the walk.
std::vector<OutlineNode> CopyOutlineLevel(QPDFOutlineDocumentHelper& helper, QPDFObjectHandle item,
                                          const std::map<QPDFObjGen, QPDFObjectHandle>& moved,
                                          std::set<QPDFObjGen>& seen, int depth) {
    std::vector<OutlineNode> nodes;
    if (depth > 64) return nodes;
    while (item.isDictionary()) {
        if (item.isIndirect() && !seen.insert(item.getObjGen()).second) break;
        OutlineNode node;
        QPDFObjectHandle title = item.getKey("/Title");
        if (title.isString()) node.title = title.getUTF8Value();
        QPDFObjectHandle dest = OutlineDestination(helper, item);
        if (dest.isArray() && dest.getArrayNItems() >= 1) {
            QPDFObjectHandle target = dest.getArrayItem(0);
            const auto found = target.isIndirect() ? moved.find(target.getObjGen()) : moved.end();
            if (found != moved.end()) {
                node.page = found->second;
                for (int i = 1; i < dest.getArrayNItems(); ++i) {
                    QPDFObjectHandle part = dest.getArrayItem(i);
                    if (!(part.isName() || part.isNumber() || part.isNull())) {
                        node.view.clear();
                        break;
                    }
                    node.view.push_back(part.isNull() ? QPDFObjectHandle::newNull()
                                                      : QPDFObjectHandle::parse(part.unparse()));
                }
            }
        }
        node.kids = CopyOutlineLevel(helper, item.getKey("/First"), moved, seen, depth + 1);
        nodes.push_back(std::move(node));
        item = item.getKey("/Next");
    }
    return nodes;
}

QPDFObjectHandle DestinationArray(const OutlineNode& node) {
    QPDFObjectHandle page = node.page;
    QPDFObjectHandle dest = QPDFObjectHandle::newArray();
    dest.appendItem(page);
    if (!node.view.empty()) {
        for (const QPDFObjectHandle& part : node.view) dest.appendItem(part);
        return dest;
    }
    double x0 = 0, y1 = 0;
    QPDFObjectHandle box = QPDFPageObjectHelper(page).getCropBox(false, false);
    std::vector<double> v;
    if (box.isArray() && box.getArrayNItems() == 4)
        for (int i = 0; i < 4; ++i)
            if (box.getArrayItem(i).isNumber()) v.push_back(box.getArrayItem(i).getNumericValue());
    if (v.size() == 4) {
        x0 = std::min(v[0], v[2]);
        y1 = std::max(v[1], v[3]);
    }
    dest.appendItem(QPDFObjectHandle::newName("/XYZ"));
    dest.appendItem(QPDFObjectHandle::newReal(x0, 4));
    dest.appendItem(QPDFObjectHandle::newReal(y1, 4));
    dest.appendItem(QPDFObjectHandle::newNull());
    return dest;
}

// Writes one level of outline items under `parent`; the number of items in the level and below.
int WriteOutlineLevel(QPDF& pdf, const std::vector<OutlineNode>& nodes, QPDFObjectHandle parent) {
    int total = 0;
    QPDFObjectHandle previous;
    for (const OutlineNode& node : nodes) {
        QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(node.title));
        item.replaceKey("/Parent", parent);
        QPDFObjectHandle page = node.page;
        if (page.isInitialized() && !page.isNull()) item.replaceKey("/Dest", DestinationArray(node));
        if (previous.isInitialized()) {
            previous.replaceKey("/Next", item);
            item.replaceKey("/Prev", previous);
        } else {
            parent.replaceKey("/First", item);
        }
        parent.replaceKey("/Last", item);
        const int below = WriteOutlineLevel(pdf, node.kids, item);
        if (below > 0) item.replaceKey("/Count", QPDFObjectHandle::newInteger(below));
        total += 1 + below;
        previous = item;
    }
    return total;
}

std::string RandomPassword() {
    std::random_device device;
    std::string password;
    for (int i = 0; i < 32; ++i) password += "0123456789abcdef"[device() % 16];
    return password;
}

// Writes the document with the options: its information updated, its own encryption dropped
// and the options' applied.
std::optional<std::vector<std::uint8_t>> WriteWithOptions(QPDF& pdf, const PdfWriteOptions& options) {
    QPDFObjectHandle existing = pdf.getTrailer().getKey("/Info");
    QPDFObjectHandle info =
        existing.isDictionary() ? QPDFObjectHandle::parse(existing.unparseResolved()) : QPDFObjectHandle::newDictionary();
    const auto set = [&](const char* key, const std::optional<std::string>& value) {
        if (value) info.replaceKey(key, QPDFObjectHandle::newUnicodeString(*value));
    };
    set("/Title", options.title);
    set("/Author", options.author);
    set("/Subject", options.subject);
    set("/Keywords", options.keywords);
    set("/Creator", options.creator);
    if (!info.getKeys().empty())
        pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
    else
        pdf.getTrailer().removeKey("/Info");

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
}

}  // namespace

int TurnedRotation(long long current, long long angle) {
    const long long c = current % 90 == 0 ? current % 360 : 0;
    const long long a = angle % 90 == 0 ? angle % 360 : 0;
    return static_cast<int>(((c + a) % 360 + 360) % 360);
}

struct PdfSource::Impl {
    std::vector<std::uint8_t> bytes;
    QPDF pdf;
};

PdfSource::PdfSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PdfSource::~PdfSource() = default;

std::unique_ptr<PdfSource> PdfSource::Open(const std::filesystem::path& file,
                                           const std::optional<std::string>& password, OpenResult* result) {
    OpenResult ignored;
    OpenResult& outcome = result ? *result : ignored;
    outcome = OpenResult::CannotOpen;
    const std::optional<std::vector<std::uint8_t>> bytes = ReadWhole(file);
    if (!bytes) return nullptr;
    bool refused = false;
    const auto attempt = [&](const char* pass) -> std::unique_ptr<Impl> {
        auto impl = std::make_unique<Impl>();
        impl->bytes = *bytes;
        try {
            impl->pdf.setSuppressWarnings(true);
            impl->pdf.processMemoryFile(file.filename().c_str(), reinterpret_cast<const char*>(impl->bytes.data()),
                                        impl->bytes.size(), pass);
            impl->pdf.getAllPages();
            return impl;
        } catch (const QPDFExc& e) {
            if (e.getErrorCode() == qpdf_e_password) refused = true;
        } catch (const std::exception&) {
        }
        return nullptr;
    };
    // A file whose user password is empty opens without one, also when a wrong one is given.
    std::unique_ptr<Impl> impl;
    if (password && !password->empty()) impl = attempt(password->c_str());
    if (!impl) impl = attempt(nullptr);
    if (!impl) {
        if (refused) outcome = OpenResult::WrongPassword;
        return nullptr;
    }
    outcome = OpenResult::Opened;
    return std::unique_ptr<PdfSource>(new PdfSource(std::move(impl)));
}

bool PdfSource::IsEncrypted() const { return impl_->pdf.isEncrypted(); }

bool PdfSource::AllowsPrinting() const {
    QPDF& pdf = impl_->pdf;
    try {
        // QPDF's own answer ignores the owner password.
        return !pdf.isEncrypted() || pdf.ownerPasswordMatched() || pdf.allowPrintLowRes();
    } catch (const std::exception&) {
        return false;
    }
}

int PdfSource::PageCount() const {
    try {
        return static_cast<int>(QPDFPageDocumentHelper(impl_->pdf).getAllPages().size());
    } catch (const std::exception&) {
        return 0;
    }
}

std::optional<std::vector<std::uint8_t>> PdfSource::WriteTurned(int angle, const PdfWriteOptions& options) {
    try {
        QPDF& pdf = impl_->pdf;
        pdf.pushInheritedAttributesToPage();
        if (TurnedRotation(0, angle) != 0)
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
                QPDFObjectHandle object = page.getObjectHandle();
                object.replaceKey("/Rotate", QPDFObjectHandle::newInteger(TurnedRotation(InheritedRotate(object), angle)));
            }
        return WriteWithOptions(pdf, options);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

struct PdfBuilder::Impl {
    QPDF pdf;
    std::vector<std::unique_ptr<Source>> sources;
    std::vector<OutlineNode> outline;

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
    std::optional<std::vector<std::uint8_t>> bytes = ReadWhole(file);
    return bytes ? InsertPdfPages(std::move(*bytes), index) : 0;
}

int PdfBuilder::InsertPdfSource(PdfSource& source, int index, int angle, const std::optional<std::string>& outlineTitle) {
    try {
        QPDF& from = source.impl_->pdf;
        from.pushInheritedAttributesToPage();
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(from).getAllPages();
        const int count = PageCount();
        const int at = index < 0 || index > count ? count : index;
        std::map<QPDFObjGen, QPDFObjectHandle> moved;
        int inserted = 0;
        for (QPDFPageObjectHelper& page : pages) {
            impl_->Insert(page, at + inserted);
            QPDFObjectHandle copy = impl_->Pages()[static_cast<std::size_t>(at + inserted)].getObjectHandle();
            copy.replaceKey("/Rotate",
                            QPDFObjectHandle::newInteger(TurnedRotation(InheritedRotate(page.getObjectHandle()), angle)));
            moved[page.getObjectHandle().getObjGen()] = copy;
            ++inserted;
        }
        if (outlineTitle && inserted > 0) {
            OutlineNode node;
            node.title = *outlineTitle;
            node.page = impl_->Pages()[static_cast<std::size_t>(at)].getObjectHandle();
            QPDFOutlineDocumentHelper helper(from);
            QPDFObjectHandle outlines = from.getRoot().getKey("/Outlines");
            std::set<QPDFObjGen> seen;
            if (outlines.isDictionary()) node.kids = CopyOutlineLevel(helper, outlines.getKey("/First"), moved, seen, 0);
            impl_->outline.push_back(std::move(node));
        }
        return inserted;
    } catch (const std::exception&) {
        return 0;
    }
}

bool PdfBuilder::AddOutlineEntry(const std::string& title, int pageIndex) {
    try {
        std::vector<QPDFPageObjectHelper> pages = impl_->Pages();
        if (pageIndex < 0 || pageIndex >= static_cast<int>(pages.size())) return false;
        OutlineNode node;
        node.title = title;
        node.page = pages[static_cast<std::size_t>(pageIndex)].getObjectHandle();
        impl_->outline.push_back(std::move(node));
        return true;
    } catch (const std::exception&) {
        return false;
    }
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
        if (!impl_->outline.empty()) {
            QPDFObjectHandle root = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Outlines >>"));
            const int count = WriteOutlineLevel(pdf, impl_->outline, root);
            root.replaceKey("/Count", QPDFObjectHandle::newInteger(count));
            pdf.getRoot().replaceKey("/Outlines", root);
        }
        return WriteWithOptions(pdf, options);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace platform
