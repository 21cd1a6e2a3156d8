#pragma once

#include <cstdint>
#include <string>

#include "engine/ImageConversion.h"

// Why a conversion failed, for the callers that want more than the success byte (the
// application, the benchmark, the command-line tools).
enum class ConversionFailure : std::int32_t {
    None = 0,
    CannotOpen,          // not a PDF, or unreadable
    WrongPassword,       // encrypted, and the password (or none) does not unlock it
    UnreadablePageTree,  // the document's page tree cannot be read at all
    PageUnreadable,      // a page that MuPDF cannot load or run
    UnusableSize,        // the settings give a page below one pixel, or no number at all
    PageTooLarge,        // beyond what the engine holds in memory for a format that needs the whole picture
    TooLargeForFormat,   // beyond the output format's own limits
    WriterError,         // the encoder or the file failed
    DiskFull,            // no space left for the output
    Cancelled,           // a cancel arrived while a page was in progress
    NoResources,         // no memory (or no thread) to be had
};

struct ConversionReport {
    std::uint8_t success = 0;  // what ConvertPDFToImages returns
    ConversionFailure failure = ConversionFailure::None;  // the first failure, when success is 0
    long page = 0;       // the page it happened on (as numbered in names), 0 for the document
    std::string detail;  // the library's words, or the sizes involved; may be empty
};

// ConvertPDFToImages, telling why it failed. Never throws.
ConversionReport ConvertPDFToImagesWithReport(const ImageConversion* conversion);

// A sentence for a report: "page 3: too large for the output format (JPEG: at most 65500 pixels
// a side)"; "" for success.
std::string DescribeConversionReport(const ConversionReport& report);
