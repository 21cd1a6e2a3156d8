#include <algorithm>
#include <cctype>
#include <system_error>

#include "Common UI Code/OVXUtil.h"
#include "engine/pdfassembly/PDFAssembly.h"

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::optional<std::vector<std::uint8_t>> FileBytes(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) return std::nullopt;
    const std::size_t read = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), in);
    std::fclose(in);
    if (read != bytes.size()) return std::nullopt;
    return bytes;
}

// The converters of the image and text entries, set from the record.
void SetUp(ImagesToPDFConverter& images, const FilesToPDFConversion& record) {
    images.SetPageOptions(record.paperOrientation, record.imageType, record.colorModel, record.pageSizeMode,
                          record.scalePercent, record.paperWidth, record.paperHeight, record.leftMargin,
                          record.rightMargin, record.topMargin, record.bottomMargin, record.compressionQuality,
                          record.maximumResolution, record.writeOptions);
    images.SetProgressCallback(record.progressTarget, record.progressSelector);
}

void SetUp(TextToPDFConverter& text, const FilesToPDFConversion& record) {
    text.SetPageOptions(record.paperOrientation, record.writeOptions, record.textAttributes,
                        record.applyTextAttributes, record.paperWidth, record.paperHeight, record.leftMargin,
                        record.rightMargin, record.topMargin, record.bottomMargin);
    text.SetProgressCallback(record.progressTarget, record.progressSelector);
}

bool Cancelled(const FilesToPDFConversion& record) {
    return record.progressTarget && record.progressTarget->isConversionCancelled();
}

// A PDF entry's document when its pages may be taken: it opens, is unlocked, allows printing
// when encrypted, and has pages.
std::unique_ptr<platform::PdfSource> UsablePdf(const FilesToPDFEntry& entry, platform::PdfSource::OpenResult* result) {
    std::unique_ptr<platform::PdfSource> source = platform::PdfSource::Open(*entry.filePath, entry.password, result);
    if (!source || (source->IsEncrypted() && !source->AllowsPrinting()) || source->PageCount() == 0) return nullptr;
    return source;
}

}  // namespace

std::int64_t PdfEntryAngle(std::optional<double> angle) {
    const std::int64_t a = ImagesToPDFConverter::EntryAngle(angle);
    return a % 90 == 0 ? a : 0;
}

std::uint8_t ConvertEachFileToPDF(const FilesToPDFConversion& record) {
    if (!record.fileList || record.destinationURL.empty()) return 0;
    std::uint8_t result = 1;
    for (const std::optional<FilesToPDFEntry>& entry : *record.fileList) {
        if (!entry) continue;
        const std::optional<fs::path>& path = entry->filePath;
        const fs::path output =
            path ? GetUniqueFileURLForFile(record.destinationURL, *path, "pdf", false) : fs::path();
        ReportAssemblyStatus(record.progressTarget, record.progressSelector, kStatusNextFile);
        if (path && !path->empty()) {
            switch (entry->fileType) {
                case kFileTypePDF: {
                    if (!IsFile(*path)) break;  // a missing document leaves no trace
                    platform::PdfSource::OpenResult opened;
                    std::unique_ptr<platform::PdfSource> source = UsablePdf(*entry, &opened);
                    if (!source && opened == platform::PdfSource::OpenResult::CannotOpen) {
                        result = 0;
                        break;
                    }
                    if (source) {
                        const std::optional<std::vector<std::uint8_t>> bytes =
                            source->WriteTurned(static_cast<int>(PdfEntryAngle(entry->angle)), record.writeOptions);
                        if (bytes && SafeSavePDF(*bytes, output, false)) {
                            result = 1;
                            break;
                        }
                    }
                    // Locked, unprintable, empty or not rewritable: the document as it is.
                    const std::optional<std::vector<std::uint8_t>> original = FileBytes(*path);
                    result = original && SafeSavePDF(*original, output, true) ? 1 : 0;
                    break;
                }
                case kFileTypeText: {
                    TextToPDFConverter text;
                    SetUp(text, record);
                    result = text.ConvertTextDocument(*path, output) ? 1 : 0;
                    break;
                }
                case kFileTypeImage: {
                    ImagesToPDFConverter images;
                    SetUp(images, record);
                    platform::PdfBuilder document;
                    result = 0;
                    if (images.AddImagePage(*path, &document, 0, entry->angle)) {
                        const std::optional<std::vector<std::uint8_t>> bytes = document.Write(record.writeOptions);
                        result = bytes && SafeSavePDF(*bytes, output, true) ? 1 : 0;
                    }
                    break;
                }
                default: break;  // nothing to do, the result stays
            }
        }
        if (Cancelled(record)) return 0;
    }
    return result;
}

std::uint8_t MergeFilesToPDF(const FilesToPDFConversion& record) {
    if (!record.fileList || record.destinationURL.empty()) return 0;
    platform::PdfBuilder merged;
    std::vector<std::unique_ptr<platform::PdfSource>> sources;  // read by the merged pages until the write
    int index = 0;
    for (const std::optional<FilesToPDFEntry>& entry : *record.fileList) {
        if (!entry) continue;
        ReportAssemblyStatus(record.progressTarget, record.progressSelector, kStatusNextFile);
        const std::optional<fs::path>& path = entry->filePath;
        if (path && !path->empty()) {
            const std::string title = FileNameWithoutExtension(*path);
            switch (entry->fileType) {
                case kFileTypePDF: {
                    if (!IsFile(*path)) break;
                    std::unique_ptr<platform::PdfSource> source = UsablePdf(*entry, nullptr);
                    if (!source) break;
                    index += merged.InsertPdfSource(*source, index, static_cast<int>(PdfEntryAngle(entry->angle)), title);
                    sources.push_back(std::move(source));
                    break;
                }
                case kFileTypeText: {
                    const std::optional<fs::path> temporary = GetTemporaryFileURL();
                    if (!temporary) break;
                    TextToPDFConverter text;
                    SetUp(text, record);
                    text.combiningStep = 1;
                    if (text.ConvertTextDocument(*path, *temporary) && IsFile(*temporary)) {
                        // Only the pages with something on them; the entry points at the first.
                        const int taken = InsertNonBlankPages(merged, *temporary, index);
                        if (taken > 0 && merged.AddOutlineEntry(title, index)) index += taken;
                    }
                    std::error_code ignored;
                    fs::remove(*temporary, ignored);
                    break;
                }
                case kFileTypeImage: {
                    ImagesToPDFConverter images;
                    SetUp(images, record);
                    if (images.AddImagePage(*path, &merged, index, entry->angle)) {
                        merged.AddOutlineEntry(title, index);
                        ++index;
                    }
                    break;
                }
                default: break;
            }
        }
        if (Cancelled(record)) return 0;
    }
    if (merged.PageCount() == 0) return 0;
    ReportAssemblyStatus(record.progressTarget, record.progressSelector, kStatusWritingDocument);
    const std::optional<std::vector<std::uint8_t>> bytes = merged.Write(record.writeOptions);
    const bool saved = bytes && SafeSavePDF(*bytes, record.destinationURL, false);
    ReportAssemblyStatus(record.progressTarget, record.progressSelector, kStatusDocumentWritten);
    return saved ? 1 : 0;
}

std::uint8_t ConvertFilesToPDF(const FilesToPDFConversion* record) {
    if (!record || !record->fileList || record->destinationURL.empty()) return 0;
    try {
        return record->combineIntoOne ? MergeFilesToPDF(*record) : ConvertEachFileToPDF(*record);
    } catch (...) {
        return 0;
    }
}

bool IsHTMLFile(const fs::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "html" || extension == "htm" || extension == "shtml";
}
