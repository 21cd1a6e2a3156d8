#pragma once

#include <cstddef>
#include <string>

#include "engine/ConversionReport.h"
#include "engine/ImageConversion.h"
#include "platform/Bitmap.h"
#include "platform/PdfDocument.h"

// The pure steps of rendering a page: what size it comes out at, and whether and how the
// chosen format can take it. Nothing here touches a document or a file.

// What becomes of a page, once its steps have run.
struct PageOutcome {
    enum class Kind { Written, Skipped, Cancelled, Failed } kind = Kind::Written;
    ConversionFailure failure = ConversionFailure::None;
    std::string detail;

    static PageOutcome Written() { return {}; }
    static PageOutcome Skipped() { return {Kind::Skipped, ConversionFailure::None, {}}; }
    static PageOutcome Cancelled() { return {Kind::Cancelled, ConversionFailure::Cancelled, {}}; }
    static PageOutcome Failed(ConversionFailure why, std::string detail = {}) {
        return {Kind::Failed, why, std::move(detail)};
    }
    // Whether the document fails with this page.
    bool FailsDocument() const { return kind == Kind::Failed || kind == Kind::Cancelled; }
};

// The pixel size of a page.
struct PageSizePlan {
    enum class Kind { Draw, Skip, Fail } kind = Kind::Fail;
    int width = 0;
    int height = 0;
    double scale = 0;  // pixels per point
    ConversionFailure failure = ConversionFailure::None;
    std::string detail;
};

// The page's size from its boxes (the crop box, or the media box when the crop box is empty;
// skipped when both are), its rotation, the size of its unit, the loop's scale (pixels per
// point) and, with `resize`, the target size as the page loop prepared it (in pixels for unit
// 2, else in points at the output resolution), fitted with the aspect ratio kept. Lengths are
// rounded in single precision, ties to even.
PageSizePlan PlanPageSize(const platform::PdfPageGeometry& geometry, float scale, bool resize,
                          const ImageResizeOptions& target);

// What a format can take: the longest side it stores (0: no limit of its own), and whether its
// writer takes rows a band at a time or needs the whole picture in memory.
struct FormatLimits {
    const char* name = "";
    int maxSide = 0;
    bool streamsRows = false;
};

// How a page of this size reaches its writer: the whole picture at once, or bands of
// `bandRows` rows; or a failure when the format cannot hold it (`maxPictureBytes` bounds a
// whole picture).
struct PageWritePlan {
    bool ok = false;
    bool banded = false;
    int bandRows = 0;
    ConversionFailure failure = ConversionFailure::None;
    std::string detail;
};

// Pictures up to this size are drawn whole: MuPDF then draws them exactly as its own tools do
// (a drawing cut into bands decodes and scales images band by band, and a few pixels near the
// band edges come out one step apart). It holds A4 and Letter pages in RGB at 600 dpi.
inline constexpr std::size_t kWholePictureBytes = std::size_t{128} << 20;

// Larger pictures go to writers that stream in bands of about this size.
inline constexpr std::size_t kBandBytes = std::size_t{16} << 20;

PageWritePlan PlanPageWrite(int width, int height, int bytesPerPixel, const FormatLimits& format,
                            std::size_t maxPictureBytes = platform::kMaxBitmapBytes,
                            std::size_t bandBytes = kBandBytes, std::size_t wholeBytes = kWholePictureBytes);

// The size up to which the page loop draws pictures whole: kWholePictureBytes unless set
// (process-wide; tests lower it to reach the banded path with small pages). 0 restores it.
std::size_t WholePictureLimit();
void SetWholePictureLimit(std::size_t bytes);
