#include <sys/syscall.h>
#include <unistd.h>

#include <QAbstractTextDocumentLayout>
#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <exception>
#include <system_error>

#include "Common UI Code/OVXUtil.h"
#include "engine/pdfassembly/PDFAssembly.h"
#include "engine/pdfassembly/TextDocumentReaders.h"
#include "platform/PdfDocument.h"
#include "platform/PdfText.h"

namespace fs = std::filesystem;

namespace {

// Text layout and PDF printing need a GUI application for their fonts. A program that has
// none gets one of our own on its main thread, without a display; a program with a non-GUI
// application, or a call from another thread before one exists, cannot lay text out.
bool HaveGuiApplication() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return true;
    if (QCoreApplication::instance()) return false;
    if (static_cast<pid_t>(::syscall(SYS_gettid)) != ::getpid()) return false;
    static char name[] = "vellipse";
    static char option[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    static int argc = 3;
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    return application != nullptr;
}

void ApplyAttributes(QTextDocument& document, const TextAttributes& attributes) {
    if (attributes.empty()) return;
    QTextCharFormat format;
    QFont font = document.defaultFont();
    if (attributes.fontFamily) {
        format.setFontFamilies({QString::fromStdString(*attributes.fontFamily)});
        font.setFamilies({QString::fromStdString(*attributes.fontFamily)});
    }
    if (attributes.fontSize > 0) {
        format.setFontPointSize(attributes.fontSize);
        font.setPointSizeF(attributes.fontSize);
    }
    if (attributes.color) {
        const TextColor& c = *attributes.color;
        format.setForeground(QBrush(QColor::fromRgbF(static_cast<float>(std::clamp(c.red, 0.0, 1.0)),
                                                     static_cast<float>(std::clamp(c.green, 0.0, 1.0)),
                                                     static_cast<float>(std::clamp(c.blue, 0.0, 1.0)),
                                                     static_cast<float>(std::clamp(c.alpha, 0.0, 1.0)))));
    }
    document.setDefaultFont(font);
    QTextCursor cursor(&document);
    cursor.select(QTextCursor::Document);
    cursor.mergeCharFormat(format);
}

// A file that is removed when the scope ends.
struct RemovedFile {
    fs::path path;
    ~RemovedFile() {
        std::error_code ignored;
        if (!path.empty()) fs::remove(path, ignored);
    }
};

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

template <typename Function>
std::uint8_t Guarded(Function&& function) {
    try {
        return function();
    } catch (...) {
        return 0;
    }
}

}  // namespace

void TextToPDFConverter::SetOptions(const TextToPDFConversion& record) {
    SetPageOptions(record.paperOrientation, record.writeOptions, record.textAttributes, record.applyTextAttributes,
                   record.paperWidth, record.paperHeight, record.leftMargin, record.rightMargin, record.topMargin,
                   record.bottomMargin);
    fileList = record.fileList;
    destinationURL = record.destinationURL;
}

void TextToPDFConverter::SetPageOptions(std::int64_t orientation, const PDFWriteOptions& options,
                                        const TextAttributes& attributes, std::uint8_t apply, double width,
                                        double height, double left, double right, double top, double bottom) {
    paperOrientation = orientation;
    writeOptions = options;
    textAttributes = attributes;
    applyTextAttributes = apply;
    paperWidth = width;
    paperHeight = height;
    leftMargin = left;
    rightMargin = right;
    topMargin = top;
    bottomMargin = bottom;
    fileList.clear();
    destinationURL.clear();
}

void TextToPDFConverter::SetProgressCallback(ProgressTarget* target, ProgressSelector selector) {
    progressTarget = target;
    progressSelector = selector;
}

void TextToPDFConverter::Report(long status) const { ReportAssemblyStatus(progressTarget, progressSelector, status); }

bool TextToPDFConverter::Cancelled() const { return progressTarget && progressTarget->isConversionCancelled(); }

bool TextToPDFConverter::PrintDocument(const fs::path& documentURL, const fs::path& file) const {
    const std::optional<PaperLayout> paper =
        MakePaperLayout(paperWidth, paperHeight, paperOrientation, leftMargin, rightMargin, topMargin, bottomMargin);
    if (!paper || !HaveGuiApplication()) return false;
    QTextDocument document;
    const std::optional<bool> rich = pdfassembly::LoadTextDocument(documentURL, document);
    if (!rich) return false;
    if (!*rich || applyTextAttributes) ApplyAttributes(document, textAttributes);
    {
        QPdfWriter writer(QString::fromStdString(file.string()));
        // The page is the paper as turned; Qt adds no margin of its own beyond ours.
        const QPageSize size(QSizeF(paper->width, paper->height), QPageSize::Point, QString(), QPageSize::ExactMatch);
        const QPageLayout layout(size, QPageLayout::Portrait,
                                 QMarginsF(leftMargin, topMargin, rightMargin, bottomMargin), QPageLayout::Point,
                                 QMarginsF());
        if (!writer.setPageLayout(layout)) return false;
        writer.setCreator(QStringLiteral("Vellipse"));
        const double scale = writer.resolution() / 72.0;
        const QSizeF area(paper->printableWidth * scale, paper->printableHeight * scale);
        document.documentLayout()->setPaintDevice(&writer);
        document.setUseDesignMetrics(true);
        document.setDocumentMargin(0);
        document.setPageSize(area);
        const int pages = std::max(1, document.pageCount());
        QPainter painter;
        if (!painter.begin(&writer)) return false;
        for (int i = 0; i < pages; ++i) {
            if (i > 0 && !writer.newPage()) break;
            painter.save();
            const QRectF view(0, i * area.height(), area.width(), area.height());
            painter.translate(0, -view.top());
            painter.setClipRect(view);
            QAbstractTextDocumentLayout::PaintContext context;
            // Lines that only touch the page's edge belong to the next page or the one before:
            // drawn here they would be clipped away but still stand in the page's text.
            context.clip = view.adjusted(0, 1, 0, -1);
            context.palette.setColor(QPalette::Text, Qt::black);
            document.documentLayout()->draw(&painter, context);
            painter.restore();
        }
        if (!painter.end()) return false;
    }
    // A printed file counts only when it opens as a PDF.
    return IsFile(file) && platform::PdfDocument::Open(file) != nullptr;
}

bool TextToPDFConverter::ConvertTextDocument(const fs::path& documentURL, const fs::path& outputURL) {
    if (outputURL.empty()) return false;
    const std::optional<fs::path> temporary = GetTemporaryFileURL();
    if (!temporary) return false;
    RemovedFile printed{*temporary};
    if (!PrintDocument(documentURL, *temporary)) return false;

    if (combiningStep) {
        // The pages as laid out, for a caller that collects them.
        std::error_code ec;
        if (fs::is_directory(outputURL, ec)) return false;
        fs::rename(*temporary, outputURL, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(*temporary, outputURL, fs::copy_options::overwrite_existing, ec);
        }
        return !ec && IsFile(outputURL);
    }

    platform::PdfBuilder document;
    // A document of blank pages only gives no PDF.
    if (InsertNonBlankPages(document, *temporary, 0) == 0) return false;
    const std::optional<std::vector<std::uint8_t>> bytes = document.Write(writeOptions);
    return bytes && SafeSavePDF(*bytes, outputURL, true);
}

int InsertNonBlankPages(platform::PdfBuilder& document, const fs::path& printed, int index) {
    std::unique_ptr<platform::PdfDocument> drawn = platform::PdfDocument::Open(printed);
    std::unique_ptr<platform::PdfTextReader> text = platform::PdfTextReader::Open(printed, std::nullopt);
    if (!drawn || !text) return 0;
    const int before = document.PageCount();
    const int at = std::clamp(index, 0, before);
    const int inserted = document.InsertPdfFile(printed, at);
    if (inserted != drawn->PageCount()) {
        for (int i = inserted - 1; i >= 0; --i) document.RemovePage(at + i);
        return 0;
    }
    int taken = inserted;
    for (int i = inserted - 1; i >= 0; --i)
        if (IsPDFPageBlank(PDFPageRef{drawn.get(), text.get(), i}) && document.RemovePage(at + i)) --taken;
    return taken;
}

std::uint8_t TextToPDFConverter::ConvertEachDocument() {
    combiningStep = 0;
    if (fileList.empty()) return 1;
    if (destinationURL.empty()) return 0;
    std::uint8_t result = 1;
    for (const std::optional<AssemblyFileEntry>& entry : fileList) {
        if (!entry || !entry->filePath) continue;
        const fs::path output = GetUniqueFileURLForFile(destinationURL, *entry->filePath, "pdf", false);
        Report(kStatusNextFile);
        result = ConvertTextDocument(*entry->filePath, output) ? 1 : 0;
        if (Cancelled()) return 0;
    }
    return result;
}

std::uint8_t TextToPDFConverter::CombineDocuments() {
    if (destinationURL.empty()) return 0;
    platform::PdfBuilder combined;
    combiningStep = 1;
    int index = 0;
    for (const std::optional<AssemblyFileEntry>& entry : fileList) {
        if (!entry || !entry->filePath) continue;
        const std::optional<fs::path> temporary = GetTemporaryFileURL();
        if (!temporary) continue;
        RemovedFile pages{*temporary};
        Report(kStatusNextFile);
        if (ConvertTextDocument(*entry->filePath, *temporary) && IsFile(*temporary))
            index += combined.InsertPdfFile(*temporary, index);
        if (Cancelled()) return 0;
    }
    combiningStep = 0;
    if (combined.PageCount() == 0) return 0;
    Report(kStatusWritingDocument);
    const std::optional<std::vector<std::uint8_t>> bytes = combined.Write(writeOptions);
    const bool saved = bytes && SafeSavePDF(*bytes, destinationURL, false);
    Report(kStatusDocumentWritten);
    return saved ? 1 : 0;
}

std::uint8_t ConvertTextDocumentsToPDF(const TextToPDFConversion* record) {
    if (!record) return 0;
    return Guarded([&]() -> std::uint8_t {
        TextToPDFConverter converter;
        converter.SetOptions(*record);
        converter.SetProgressCallback(record->progressTarget, record->progressSelector);
        return record->combineIntoOne ? converter.CombineDocuments() : converter.ConvertEachDocument();
    });
}

bool IsPDFPageBlank(const PDFPageRef& page) {
    if (!page.document || page.index < 0 || page.index >= page.document->PageCount()) return false;
    if (page.text) {
        const std::optional<platform::StyledText> text = page.text->PageText(page.index);
        if (text && text->text.size() > 5) return false;
    }
    const std::optional<platform::PdfPageGeometry> geometry = page.document->PageGeometry(page.index);
    if (!geometry) return false;
    platform::PdfRect box = geometry->cropBox;
    if (box.width() == 0 || box.height() == 0) box = geometry->mediaBox;
    int width = static_cast<int>(box.width() / 2);
    int height = static_cast<int>(box.height() / 2);
    const int turn = ((geometry->rotation % 360) + 360) % 360;
    if (turn == 90 || turn == 270) std::swap(width, height);
    if (width <= 0 || height <= 0) return false;
    platform::PdfDocument::RenderRequest request;
    request.pageIndex = page.index;
    request.scale = 0.5f;
    request.width = width;
    request.height = height;
    request.model = platform::ColorModel::RGB;
    const platform::Bitmap drawn = page.document->RenderPage(request);
    if (!drawn) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(drawn.width) * static_cast<std::size_t>(drawn.components);
    for (int y = 0; y < drawn.height; ++y) {
        const std::uint8_t* row = drawn.row(y);
        if (std::any_of(row, row + rowBytes, [](std::uint8_t v) { return v != 0xFF; })) return false;
    }
    return true;
}

TextDocumentKind TextDocumentKindForUTI(std::optional<std::string_view> identifier) {
    if (!identifier) return kTextKindNone;
    struct Entry {
        TextDocumentKind kind;
        const char* identifier;
    };
    static const Entry table[] = {
        {kTextKindRTF, "public.rtf"},
        {kTextKindRTFD, "com.apple.rtfd"},
        {kTextKindHTML, "public.html"},
        {kTextKindText, "public.text"},
        {kTextKindPlainText, "public.plain-text"},
        {kTextKindPlainText, "com.apple.log"},
        {kTextKindPlainText, "com.apple.crashreport"},
        {kTextKindPlainText, "com.apple.panicreport"},
        {kTextKindPlainText, "com.apple.hangreport"},
        {kTextKindPlainText, "com.apple.spinreport"},
        {kTextKindPlainText, "com.apple.aslquery"},
        {kTextKindWebArchive, "com.apple.webarchive"},
        {kTextKindODT, "org.oasis-open.opendocument.text"},
        {kTextKindODT, "org.oasis.opendocument.text"},
        {kTextKindODT, "org.oasis-open.opendocument"},
        {kTextKindODTTemplate, "org.oasis-open.opendocument.text-template"},
        {kTextKindOpenOffice, "org.openoffice.text"},
        {kTextKindOpenOfficeTemplate, "org.openoffice.text-template"},
        {kTextKindDOCX, "org.openxmlformats.wordprocessingml.document"},
        {kTextKindWordML, "com.microsoft.word.wordml"},
        {kTextKindDOC, "com.microsoft.word.doc"},
        {kTextKindMacPlainText, "com.apple.traditional-mac-plain-text"},
    };
    for (const Entry& entry : table)
        if (*identifier == entry.identifier) return entry.kind;
    return kTextKindNone;
}
