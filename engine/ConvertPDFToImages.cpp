#include <new>
#include <system_error>

#include "engine/ConversionReport.h"
#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"

namespace {

ConversionReport Failure(ConversionFailure why) { return ConversionReport{0, why, 0, {}}; }

ConversionReport Convert(const ImageConversion* conversion) {
    if (!conversion || conversion->sourceURL.empty() || conversion->outputFolderURL.empty())
        return Failure(ConversionFailure::CannotOpen);

    ImageConverter converter;
    const ImageConversionOptions& options = conversion->conversionOptions;
    converter.SetPassword(options.password);
    if (!converter.OpenPDFDocument(conversion->sourceURL)) return Failure(ConversionFailure::CannotOpen);
    if (converter.IsDocumentEncrypted() && !converter.UnlockDocument()) return Failure(ConversionFailure::WrongPassword);

    converter.SetNamingOptions(conversion->outputBaseName, conversion->numberPagesFromRangeStart,
                               conversion->overwriteExistingFile);
    converter.SetPageRange(options.startPage, options.endPage, options.pageRangeType);
    converter.SetProgressCallback(conversion->progressCallback.progressTarget,
                                  conversion->progressCallback.progressSelector);
    converter.SetOutputOptions(options.imageType, conversion->outputFolderURL, options.compressionQuality);
    converter.SetResolution(options.outputResolution, options.outputResolution);
    converter.SetColorModel(options.colorModel);
    converter.ConvertPages(conversion->resizeEnabled, conversion->resizeOptions);
    return converter.Report();
}

const char* FailureText(ConversionFailure failure) {
    switch (failure) {
        case ConversionFailure::None: return "";
        case ConversionFailure::CannotOpen: return "the file cannot be opened as a PDF";
        case ConversionFailure::WrongPassword: return "the password does not unlock the document";
        case ConversionFailure::UnreadablePageTree: return "the document's page tree cannot be read";
        case ConversionFailure::PageUnreadable: return "the page cannot be read";
        case ConversionFailure::UnusableSize: return "the settings give the page no usable pixel size";
        case ConversionFailure::PageTooLarge: return "the page is too large to hold in memory";
        case ConversionFailure::TooLargeForFormat: return "the page is too large for the output format";
        case ConversionFailure::WriterError: return "the image could not be written";
        case ConversionFailure::DiskFull: return "the disk is full";
        case ConversionFailure::Cancelled: return "cancelled";
        case ConversionFailure::NoResources: return "not enough memory or threads";
    }
    return "failed";
}

}  // namespace

ConversionReport ConvertPDFToImagesWithReport(const ImageConversion* conversion) {
    try {
        return Convert(conversion);
    } catch (...) {
        // Memory or threads that could not be had outside any page: the document fails, and
        // the caller, which catches nothing, goes on.
        return Failure(ConversionFailure::NoResources);
    }
}

std::uint8_t ConvertPDFToImages(const ImageConversion* conversion) {
    return ConvertPDFToImagesWithReport(conversion).success;
}

std::string DescribeConversionReport(const ConversionReport& report) {
    if (report.success) return "";
    std::string text = report.page > 0 ? "page " + std::to_string(report.page) + ": " : std::string();
    text += FailureText(report.failure);
    if (!report.detail.empty()) text += " (" + report.detail + ")";
    return text;
}
