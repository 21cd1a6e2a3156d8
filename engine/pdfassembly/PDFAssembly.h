#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"
#include "platform/PdfAssembly.h"

namespace platform {
class PdfDocument;
class PdfTextReader;
}  // namespace platform

// PDF documents built from images and from text documents: one per source file, or one for all.

// How a page is sized: 0 the picture's own size; 1 the paper size, a resolution cap measured
// against the printable area; any other value the paper size, a cap measured against the
// picture's own resolution.
enum PageSizeMode : std::int32_t { kPageSizeImage = 0, kPageSizePaperPrintable = 1, kPageSizePaper = 2 };
// 1 landscape, anything else portrait.
enum PaperOrientation : std::int64_t { kPaperPortrait = 0, kPaperLandscape = 1 };

// The status codes the assembly operations report: before each file, before the combined
// document is written, after it was written.
enum AssemblyStatus : long { kStatusNextFile = 3, kStatusWritingDocument = 6, kStatusDocumentWritten = 7 };

using PDFWriteOptions = platform::PdfWriteOptions;

// One source file of a list; "FilePath" and the optional "Angle" of each entry. An entry
// without a path stands for a missing one and is skipped.
struct AssemblyFileEntry {
    std::optional<std::filesystem::path> filePath;
    std::optional<double> angle;  // degrees
};

// ---------------------------------------------------------------------------------------------
// Images to PDF

struct ImagesToPDFConversion {
    std::uint8_t combineIntoOne = 0;
    double compressionQuality = 0;
    std::int32_t imageType = kOutputJPEG;  // the type each picture is re-encoded in
    std::int32_t colorModel = kColorRGB;
    std::int32_t pageSizeMode = kPageSizeImage;
    std::int64_t maximumResolution = 0;  // dpi; 0 or less: no cap
    std::uint64_t paperWidth = 0;        // points
    std::uint64_t paperHeight = 0;
    double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
    std::int64_t paperOrientation = kPaperPortrait;
    std::int64_t scalePercent = 100;
    std::vector<std::optional<AssemblyFileEntry>> fileList;
    std::filesystem::path destinationURL;  // folder (one PDF per image) or file (one PDF)
    ProgressTarget* progressTarget = nullptr;
    ProgressSelector progressSelector = nullptr;  // performed with each status code
    PDFWriteOptions writeOptions;
};

// 1 on success, 0 otherwise (see the converter's modes).
std::uint8_t ConvertImagesToPDF(const ImagesToPDFConversion* record);

// A picture encoded for a page, with the page's frame: made by PrepareImagePage, which touches
// no document, so that several images may be prepared at once.
struct PreparedImagePage {
    platform::PdfPicture picture;
    platform::PdfPictureFrame frame;
};

class ImagesToPDFConverter : public ImageConverter {
public:
    ImagesToPDFConverter();
    ~ImagesToPDFConverter();

    void SetOptions(const ImagesToPDFConversion& record);
    void SetPageOptions(std::int64_t orientation, std::int32_t type, std::int32_t model, std::int32_t sizeMode,
                        std::int64_t percent, double width, double height, double left, double right, double top,
                        double bottom, double quality, std::int64_t maxResolution, const PDFWriteOptions& options);
    void SetProgressCallback(ProgressTarget* target, ProgressSelector selector);

    // Inserts the image as a page at `index` of the document; whether it was inserted.
    bool AddImagePage(const std::optional<std::filesystem::path>& imageURL, platform::PdfBuilder* document, int index,
                      std::optional<double> angle) const;
    // The page of one image, ready to insert; nothing when the image yields none.
    std::optional<PreparedImagePage> PrepareImagePage(const std::optional<std::filesystem::path>& imageURL,
                                                      std::optional<double> angle) const;

    std::uint8_t ConvertEachImage();
    std::uint8_t CombineImages();

    // The angle taken from an entry: its whole degrees when within ±270, else 0.
    static std::int64_t EntryAngle(std::optional<double> angle);

    std::vector<std::optional<AssemblyFileEntry>> fileList;
    ProgressTarget* progressTarget = nullptr;
    ProgressSelector progressSelector = nullptr;
    double compressionQuality = 0;
    std::int32_t imageType = kOutputJPEG;
    std::int32_t colorModel = kColorRGB;
    std::int32_t pageSizeMode = kPageSizeImage;
    std::uint64_t paperWidth = 0;
    std::uint64_t paperHeight = 0;
    double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
    std::int64_t paperOrientation = kPaperPortrait;
    std::int64_t scalePercent = 100;
    std::int64_t maximumResolution = 0;
    PDFWriteOptions writeOptions;

private:
    void Report(long status) const;
    bool Cancelled() const;
};

// ---------------------------------------------------------------------------------------------
// Text documents to PDF

struct TextColor {
    double red = 0, green = 0, blue = 0, alpha = 1;  // 0 to 1
};

// Attributes applied to the whole text; unset ones leave the text's own.
struct TextAttributes {
    std::optional<std::string> fontFamily;
    double fontSize = 0;  // points; 0 or less: unset
    std::optional<TextColor> color;
    bool empty() const { return !fontFamily && !(fontSize > 0) && !color; }
};

struct TextToPDFConversion {
    std::vector<std::optional<AssemblyFileEntry>> fileList;  // "FilePath" of each entry
    std::filesystem::path destinationURL;  // folder (one PDF per document) or file (one PDF)
    ProgressTarget* progressTarget = nullptr;
    ProgressSelector progressSelector = nullptr;
    std::uint8_t combineIntoOne = 0;
    std::uint8_t applyTextAttributes = 0;  // also to rich documents
    double paperWidth = 612, paperHeight = 792;
    double leftMargin = 72, rightMargin = 72, topMargin = 72, bottomMargin = 72;
    std::int64_t paperOrientation = kPaperPortrait;
    PDFWriteOptions writeOptions;
    TextAttributes textAttributes;
};

std::uint8_t ConvertTextDocumentsToPDF(const TextToPDFConversion* record);

class TextToPDFConverter {
public:
    TextToPDFConverter() = default;
    ~TextToPDFConverter() = default;
    TextToPDFConverter(const TextToPDFConverter&) = delete;
    TextToPDFConverter& operator=(const TextToPDFConverter&) = delete;

    void SetOptions(const TextToPDFConversion& record);
    void SetPageOptions(std::int64_t orientation, const PDFWriteOptions& options, const TextAttributes& attributes,
                        std::uint8_t apply, double width, double height, double left, double right, double top,
                        double bottom);
    void SetProgressCallback(ProgressTarget* target, ProgressSelector selector);

    // Writes the document as a PDF at `outputURL`: without its blank pages and with the write
    // options, or, with `combiningStep`, every page as laid out and without options. Whether the
    // file is in place.
    bool ConvertTextDocument(const std::filesystem::path& documentURL, const std::filesystem::path& outputURL);
    std::uint8_t ConvertEachDocument();
    std::uint8_t CombineDocuments();

    std::vector<std::optional<AssemblyFileEntry>> fileList;
    std::filesystem::path destinationURL;
    ProgressTarget* progressTarget = nullptr;
    ProgressSelector progressSelector = nullptr;
    double paperWidth = 612, paperHeight = 792;
    double leftMargin = 72, rightMargin = 72, topMargin = 72, bottomMargin = 72;
    std::int64_t paperOrientation = kPaperPortrait;
    PDFWriteOptions writeOptions;
    TextAttributes textAttributes;
    std::uint8_t applyTextAttributes = 0;
    std::uint8_t combiningStep = 0;

private:
    // Lays the document out and prints it as a PDF at `file`; whether a PDF that opens is there.
    bool PrintDocument(const std::filesystem::path& documentURL, const std::filesystem::path& file) const;
    void Report(long status) const;
    bool Cancelled() const;
};

// Inserts the pages of the printed PDF at `index` that are not blank; how many were inserted.
int InsertNonBlankPages(platform::PdfBuilder& document, const std::filesystem::path& printed, int index);

// A page of an opened PDF, for the blank-page test: the drawing and the text of one file.
struct PDFPageRef {
    const platform::PdfDocument* document = nullptr;
    const platform::PdfTextReader* text = nullptr;
    int index = 0;
};
// A page is blank when its text is at most 5 UTF-16 units and its half-size drawing is white.
// No page is not blank.
bool IsPDFPageBlank(const PDFPageRef& page);

enum TextDocumentKind : std::int32_t {
    kTextKindNone = 0,
    kTextKindRTF = 1,
    kTextKindRTFD = 2,
    kTextKindHTML = 3,
    kTextKindText = 4,
    kTextKindPlainText = 5,
    kTextKindWebArchive = 6,
    kTextKindODT = 7,
    kTextKindODTTemplate = 8,
    kTextKindOpenOffice = 9,
    kTextKindOpenOfficeTemplate = 10,
    kTextKindDOCX = 11,
    kTextKindWordML = 12,
    kTextKindDOC = 13,
    kTextKindMacPlainText = 14,
};
TextDocumentKind TextDocumentKindForUTI(std::optional<std::string_view> identifier);

// ---------------------------------------------------------------------------------------------
// Files of every kind to PDF, one each or merged

// The kind of a list entry; any other value makes the entry do nothing.
enum AssemblyFileType : std::int64_t { kFileTypeImage = 1, kFileTypeText = 2, kFileTypePDF = 3 };

struct FilesToPDFEntry {
    std::int64_t fileType = 0;                // "FileType"
    std::optional<std::filesystem::path> filePath;  // "FilePath"
    std::optional<std::string> password;      // "Password", for an encrypted PDF
    std::optional<double> angle;              // "Angle", degrees, for images and PDFs
};

struct FilesToPDFConversion {
    std::optional<std::vector<std::optional<FilesToPDFEntry>>> fileList;  // none: a missing list
    std::filesystem::path destinationURL;  // folder (one PDF per file) or file (merged PDF)
    ProgressTarget* progressTarget = nullptr;
    ProgressSelector progressSelector = nullptr;
    std::uint8_t combineIntoOne = 0;
    std::uint8_t applyTextAttributes = 0;
    double paperWidth = 612, paperHeight = 792;
    double leftMargin = 72, rightMargin = 72, topMargin = 72, bottomMargin = 72;
    std::int64_t paperOrientation = kPaperPortrait;
    double compressionQuality = 0.8;
    std::int32_t imageType = kOutputJPEG;
    std::int32_t colorModel = kColorRGB;
    std::int32_t pageSizeMode = kPageSizeImage;
    std::int64_t maximumResolution = 0;
    std::int64_t scalePercent = 100;
    PDFWriteOptions writeOptions;
    TextAttributes textAttributes;
};

// 0 for a missing record, list or destination; else the mode's result. One PDF per file: the
// outcome of the last entry that had one (a missing PDF or an unknown kind has none). Merged:
// whether the merged document was written; a merge to which no entry gave a page writes nothing.
std::uint8_t ConvertFilesToPDF(const FilesToPDFConversion* record);
std::uint8_t ConvertEachFileToPDF(const FilesToPDFConversion& record);
std::uint8_t MergeFilesToPDF(const FilesToPDFConversion& record);
// Whether the file's name says HTML.
bool IsHTMLFile(const std::filesystem::path& file);
// A PDF entry's angle: whole quarter turns within ±270, else 0.
std::int64_t PdfEntryAngle(std::optional<double> angle);

// ---------------------------------------------------------------------------------------------
// Shared by the assembly operations

// The page size and printable area of a paper and its margins. Nothing when the paper size or
// a margin is not a finite number, the paper is not larger than 0, or the margins leave no
// printable area.
struct PaperLayout {
    double width = 0, height = 0;            // the page, turned as the orientation says
    double printableX = 0, printableY = 0;   // the printable area's lower-left corner
    double printableWidth = 0, printableHeight = 0;
};
std::optional<PaperLayout> MakePaperLayout(double paperWidth, double paperHeight, std::int64_t orientation,
                                           double left, double right, double top, double bottom);

// Puts a finished document at `target`: written beside it under a temporary name and renamed
// over it, so that the target is replaced only by a complete file. A folder at the target is
// refused and left as it is. With `directFallback`, when no temporary file can be written or
// renamed, the bytes are written at the target itself. Whether the document is in place.
bool SafeSavePDF(const std::vector<std::uint8_t>& document, const std::filesystem::path& target, bool directFallback,
                 const std::optional<std::filesystem::path>& temporaryOverride = std::nullopt);

// Performs the status report on the target on the main queue and waits, when both are set.
void ReportAssemblyStatus(ProgressTarget* target, ProgressSelector selector, long status);
