#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"
#include "platform/Bitmap.h"

// Writes out the images that the chosen pages of a PDF carry, each as an image file of the
// record's output type named <base>_<Page><p>_<n>.<extension>. 1 when the document was opened
// (and unlocked when encrypted), 0 otherwise; nothing below that is reported.
std::uint8_t ExtractImagesFromPDF(const ImageConversion* conversion);

// Output types whose files keep an image's masks: GIF, JPEG 2000, PNG and TIFF.
bool TypeKeepsMasks(std::int32_t imageType);

// The extraction's converter: the converter opens and unlocks the document (its password also
// opens the object library's copy) and writes the files; the extractor walks the pages. Pages
// are walked in parallel, each over a copy of the document of its worker's own, so the state of
// a page's walk lives in its ExtractedPage, not here.
class ImageExtractor : public ImageConverter {
public:
    ImageExtractor();
    ~ImageExtractor();

    // Note the argument order, which differs from the converter's.
    void SetPageRange(std::int32_t rangeType, std::int64_t firstPage, std::int64_t lastPage);
    // The page loop; returns 1.
    std::uint8_t ExtractImages();
    std::string ExtensionForOutput() const;

    // Opens the document in the object library with the converter's password; nullptr when it
    // cannot be read.
    std::unique_ptr<QPDF> OpenObjectDocument();

    // One image (an image XObject, an inline image made a stream, or a mask of either) as a
    // bitmap; empty when it cannot be decoded. `pageColorSpaces` is the page's /ColorSpace
    // resource dictionary (or null), through which named spaces resolve. Masks are applied for
    // the output types that keep them, unless `withMasks` is false (a mask's own masks are
    // never followed). Throws nothing.
    platform::Bitmap CreateImageFromStream(QPDFObjectHandle stream, QPDFObjectHandle pageColorSpaces,
                                           bool withMasks = true) const;

    // Names and writes one decoded image as `path`: through the output type's writer, or for
    // PDF output (and when that write fails) through a TIFF in memory read back first.
    void WriteExtractedImage(const platform::Bitmap& image, const std::filesystem::path& path);

    // The page's name prefix: the folder, the base name, "_", the word for "Page", the page
    // number and "_". A "/" in the base name becomes "_", so no name leaves the folder.
    std::string PagePrefix(long page) const;

    void ExtractPage(QPDF& document, long page);

private:
    std::mutex fileMutex_;
    bool fileRead_ = false;
    std::string fileBytes_;
    std::filesystem::path folder_;
    std::string baseName_;
    std::string extension_;
    std::string pageWord_;
};

// The walk of one page: its /XObject resources depth first into forms (each form once), then
// its inline images in content order.
class ExtractedPage {
public:
    ExtractedPage(ImageExtractor& extractor, long page);

    void ScanPageResources(QPDFObjectHandle pageObject);
    void VisitXObject(QPDFObjectHandle object);
    void ScanFormXObject(QPDFObjectHandle form);
    void ScanInlineImages(QPDFObjectHandle pageObject);
    // Decodes one image and, when it decodes, writes it under the next number.
    void WriteExtractedImage(QPDFObjectHandle stream);

    std::string pagePrefix;
    std::int64_t imageCounter = 1;
    QPDFObjectHandle pageColorSpaces;

private:
    ImageExtractor& extractor_;
    // Inline images become streams of this document: a new stream in the page's own document
    // would make the library resolve every object of it.
    QPDF inlineImages_;
    std::set<QPDFObjGen> visitedForms_;
};
