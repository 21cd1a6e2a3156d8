#include <algorithm>
#include <cmath>
#include <exception>
#include <fstream>
#include <iterator>

#include "Common UI Code/OVXUtil.h"
#include "engine/images/ImageFileConversion.h"
#include "engine/pdfassembly/OrderedWork.h"
#include "engine/pdfassembly/PDFAssembly.h"
#include "platform/WorkerBudget.h"
#include "platform/imageio/readers/ImageSource.h"

namespace fs = std::filesystem;

namespace {

// Pixel size, samples and resolution (0 when none is stated) of encoded JPEG or JPEG 2000
// data, read from its headers.
struct EncodedSize {
    int width = 0, height = 0, components = 0;
    float dpiX = 0, dpiY = 0;
};

std::uint16_t Big16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

std::uint32_t Big32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::optional<EncodedSize> JpegSize(const std::vector<std::uint8_t>& d) {
    if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8) return std::nullopt;
    std::size_t at = 2;
    float dpiX = 0, dpiY = 0;
    while (at + 4 <= d.size()) {
        if (d[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = d[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(d[at + 2]) << 8 | d[at + 3];
        // The JFIF density, in dots per inch or per centimetre.
        if (marker == 0xE0 && at + 16 <= d.size() && std::equal(d.begin() + at + 4, d.begin() + at + 9, "JFIF")) {
            const int units = d[at + 11];
            const float scale = units == 1 ? 1.0f : units == 2 ? 2.54f : 0.0f;
            dpiX = Big16(&d[at + 12]) * scale;
            dpiY = Big16(&d[at + 14]) * scale;
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && at + 10 <= d.size())
            return EncodedSize{Big16(&d[at + 7]), Big16(&d[at + 5]), d[at + 9], dpiX, dpiY};
        at += 2 + length;
    }
    return std::nullopt;
}

std::optional<EncodedSize> Jpeg2000Size(const std::vector<std::uint8_t>& d) {
    // A raw codestream: the SIZ segment follows the start marker.
    if (d.size() >= 42 && d[0] == 0xFF && d[1] == 0x4F && d[2] == 0xFF && d[3] == 0x51) {
        const std::uint32_t xs = Big32(&d[8]), ys = Big32(&d[12]), x0 = Big32(&d[16]), y0 = Big32(&d[20]);
        return EncodedSize{static_cast<int>(xs - x0), static_cast<int>(ys - y0),
                           static_cast<int>(d[40]) << 8 | d[41]};
    }
    // A JP2 file: its image header box.
    const std::uint8_t ihdr[] = {'i', 'h', 'd', 'r'};
    const auto it = std::search(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(d.size(), 4096)),
                                std::begin(ihdr), std::end(ihdr));
    const std::size_t at = static_cast<std::size_t>(it - d.begin()) + 4;
    if (it == d.end() || at + 10 > d.size()) return std::nullopt;
    EncodedSize size{static_cast<int>(Big32(&d[at + 4])), static_cast<int>(Big32(&d[at])), Big16(&d[at + 8])};
    // The capture or display resolution box, in pixels per metre as numerator, denominator and
    // a power of ten, vertical first.
    for (const char* name : {"resc", "resd"}) {
        const auto box = std::search(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(d.size(), 4096)),
                                     name, name + 4);
        const std::size_t r = static_cast<std::size_t>(box - d.begin()) + 4;
        if (box == d.end() || r + 10 > d.size()) continue;
        const auto perInch = [](std::uint16_t n, std::uint16_t den, std::int8_t e) {
            return den == 0 ? 0.0f : static_cast<float>(n / static_cast<double>(den) * std::pow(10.0, e) * 0.0254);
        };
        size.dpiY = perInch(Big16(&d[r]), Big16(&d[r + 2]), static_cast<std::int8_t>(d[r + 8]));
        size.dpiX = perInch(Big16(&d[r + 4]), Big16(&d[r + 6]), static_cast<std::int8_t>(d[r + 9]));
        break;
    }
    return size;
}

// Samples of a bitmap as a PDF image takes them: colour without premultiplication, alpha apart.
bool PictureFromBitmap(const platform::Bitmap& bitmap, platform::PdfPicture& picture) {
    if (!bitmap) return false;
    const int colours = bitmap.colorComponents();
    if (colours != 1 && colours != 3 && colours != 4) return false;
    picture.encoding = platform::PdfPicture::Encoding::Flate;
    picture.width = bitmap.width;
    picture.height = bitmap.height;
    picture.components = colours;
    const std::size_t pixels = static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height);
    picture.data.resize(pixels * static_cast<std::size_t>(colours));
    if (bitmap.hasAlpha) picture.alpha.resize(pixels);
    bool translucent = false;
    std::uint8_t* out = picture.data.data();
    for (int y = 0; y < bitmap.height; ++y) {
        const std::uint8_t* in = bitmap.row(y);
        for (int x = 0; x < bitmap.width; ++x, in += bitmap.components) {
            if (!bitmap.hasAlpha) {
                out = std::copy(in, in + colours, out);
                continue;
            }
            const std::uint8_t a = in[colours];
            picture.alpha[static_cast<std::size_t>(y) * bitmap.width + x] = a;
            translucent = translucent || a != 255;
            for (int c = 0; c < colours; ++c)
                *out++ = a == 0 ? 0 : static_cast<std::uint8_t>(std::min(255, (in[c] * 255 + a / 2) / a));
        }
    }
    if (!translucent) picture.alpha.clear();
    return true;
}

// The picture of encoded data and the resolution it states (0 when none).
std::optional<platform::PdfPicture> PictureFromEncoded(std::int32_t type, const std::vector<std::uint8_t>& data,
                                                       float& dpiX, float& dpiY) {
    platform::PdfPicture picture;
    if (type == kOutputJPEG || type == kOutputJPEG2000) {
        const std::optional<EncodedSize> size = type == kOutputJPEG ? JpegSize(data) : Jpeg2000Size(data);
        if (size && size->width > 0 && size->height > 0 &&
            (size->components == 1 || size->components == 3 || size->components == 4)) {
            picture.encoding = type == kOutputJPEG ? platform::PdfPicture::Encoding::DCT
                                                   : platform::PdfPicture::Encoding::JPX;
            picture.width = size->width;
            picture.height = size->height;
            picture.components = size->components;
            picture.data = data;
            dpiX = size->dpiX;
            dpiY = size->dpiY;
            return picture;
        }
    }
    // Every other encoding is decoded again and its samples compressed with Flate.
    std::unique_ptr<platform::ImageSource> source = platform::OpenImageData(data.data(), data.size());
    platform::ImageRepresentation rep;
    if (!source || !source->Read(0, rep) || !PictureFromBitmap(rep.bitmap, picture)) return std::nullopt;
    dpiX = rep.dpiX;
    dpiY = rep.dpiY;
    return picture;
}

float ResolutionOf(float pixels, double points) {
    return points > 0 ? static_cast<float>(pixels * 72.0 / points) : 72.0f;
}

}  // namespace

ImagesToPDFConverter::ImagesToPDFConverter() { ImageConverter::imageType = kOutputPDF; }

ImagesToPDFConverter::~ImagesToPDFConverter() { destinationURL.clear(); }

void ImagesToPDFConverter::SetOptions(const ImagesToPDFConversion& record) {
    SetPageOptions(record.paperOrientation, record.imageType, record.colorModel, record.pageSizeMode,
                   record.scalePercent, static_cast<double>(record.paperWidth), static_cast<double>(record.paperHeight),
                   record.leftMargin, record.rightMargin, record.topMargin, record.bottomMargin,
                   record.compressionQuality, record.maximumResolution, record.writeOptions);
    fileList = record.fileList;
    destinationURL = record.destinationURL;
}

void ImagesToPDFConverter::SetPageOptions(std::int64_t orientation, std::int32_t type, std::int32_t model,
                                          std::int32_t sizeMode, std::int64_t percent, double width, double height,
                                          double left, double right, double top, double bottom, double quality,
                                          std::int64_t maxResolution, const PDFWriteOptions& options) {
    paperOrientation = orientation;
    imageType = type;
    colorModel = model;
    pageSizeMode = sizeMode;
    scalePercent = percent;
    // Whole points; a size that is no number or negative is no size.
    const auto points = [](double v) {
        return std::isfinite(v) && v > 0 && v < 1e15 ? static_cast<std::uint64_t>(v) : std::uint64_t{0};
    };
    paperWidth = points(width);
    paperHeight = points(height);
    leftMargin = left;
    rightMargin = right;
    topMargin = top;
    bottomMargin = bottom;
    compressionQuality = quality;
    maximumResolution = maxResolution;
    writeOptions = options;
    fileList.clear();
    destinationURL.clear();
}

void ImagesToPDFConverter::SetProgressCallback(ProgressTarget* target, ProgressSelector selector) {
    progressTarget = target;
    progressSelector = selector;
}

void ImagesToPDFConverter::Report(long status) const { ReportAssemblyStatus(progressTarget, progressSelector, status); }

bool ImagesToPDFConverter::Cancelled() const { return progressTarget && progressTarget->isConversionCancelled(); }

std::int64_t ImagesToPDFConverter::EntryAngle(std::optional<double> angle) {
    if (!angle || !std::isfinite(*angle) || *angle < -270 || *angle > 270) return 0;
    return static_cast<std::int64_t>(*angle);
}

std::optional<PreparedImagePage> ImagesToPDFConverter::PrepareImagePage(const std::optional<fs::path>& imageURL,
                                                                       std::optional<double> angleNumber) const {
    std::optional<PaperLayout> paper;
    if (pageSizeMode != kPageSizeImage) {
        paper = MakePaperLayout(static_cast<double>(paperWidth), static_cast<double>(paperHeight), paperOrientation,
                                leftMargin, rightMargin, topMargin, bottomMargin);
        if (!paper) return std::nullopt;  // no printable area
    }
    const std::int64_t angle = EntryAngle(angleNumber);
    if (!imageURL || imageURL->empty()) return std::nullopt;

    std::optional<platform::PdfPicture> picture;
    float dpiX = 72, dpiY = 72;
    {
        ImageConverter converter;
        if (converter.OpenSourceImage(*imageURL)) {
            converter.SetOutputOptions(imageType, {}, compressionQuality);
            double percent = static_cast<double>(scalePercent);
            if (maximumResolution > 0) {
                const float cap = static_cast<float>(maximumResolution);
                float resolutionX, resolutionY;
                if (pageSizeMode == kPageSizePaperPrintable) {
                    resolutionX = static_cast<float>(converter.SourcePixelsWide() / paper->printableWidth * 72);
                    resolutionY = static_cast<float>(converter.SourcePixelsHigh() / paper->printableHeight * 72);
                } else {
                    resolutionX = static_cast<float>(converter.SourceResolutionX());
                    resolutionY = static_cast<float>(converter.SourceResolutionY());
                }
                if (resolutionX > cap || resolutionY > cap) {
                    percent = 100.0f * cap / std::max(resolutionX, resolutionY);
                    converter.fixedResolution = cap;
                }
            }
            // A scale of nothing or less has no image to give.
            if (!(percent > 0)) return std::nullopt;
            converter.SetColorModel(colorModel);
            converter.keepEncodedData = 1;
            if (paper) {
                converter.maxOutputWidth = paper->printableWidth;
                converter.maxOutputHeight = paper->printableHeight;
            }
            converter.SetOrientationFromAngle(angle);
            // Clockwise, as the orientation says and as a PDF page turns; the redraw's angle counts
            // the other way. Only whole quarter turns turn anything.
            if (angle % 90 == 0) converter.rotationAngle = -angle;
            ImageResizeOptions resize;
            resize.keepAspectRatio = 1;
            resize.resizeToTarget = 1;
            resize.allowEnlarging = 0;
            resize.sharpen = 0;
            resize.targetResolution = 0;
            resize.targetWidth = percent;
            resize.targetHeight = 0;
            resize.sizeUnit = kSizePercent;
            resize.fitMode = 0;
            // The page takes the size the encoded picture states: its pixels at its resolution.
            float statedX = 0, statedY = 0;
            if (converter.ResizeAndWriteImage(resize) && !converter.encodedData.empty())
                picture = PictureFromEncoded(imageType, converter.encodedData, statedX, statedY);
            if (statedX > 0 && statedY > 0) {
                dpiX = statedX;
                dpiY = statedY;
            }
        }
    }
    if (!picture) {
        // The file as it is, unscaled and unturned, when it could not be re-encoded.
        std::unique_ptr<platform::ImageSource> source = platform::OpenImageFile(*imageURL);
        platform::ImageRepresentation rep;
        platform::PdfPicture fallback;
        if (!source || !source->Read(0, rep) || !PictureFromBitmap(rep.bitmap, fallback)) return std::nullopt;
        dpiX = ResolutionOf(static_cast<float>(rep.pixelsWide()), rep.widthInPoints());
        dpiY = ResolutionOf(static_cast<float>(rep.pixelsHigh()), rep.heightInPoints());
        picture = std::move(fallback);
    }

    PreparedImagePage page;
    const double width = picture->width * 72.0 / dpiX;
    const double height = picture->height * 72.0 / dpiY;
    if (!paper) {
        page.frame = {width, height, 0, 0, width, height};
    } else {
        // Centred in the printable area, shrunk to fit it when larger.
        const double fit = std::min({1.0, paper->printableWidth / width, paper->printableHeight / height});
        const double w = width * fit, h = height * fit;
        page.frame = {paper->width,
                      paper->height,
                      paper->printableX + (paper->printableWidth - w) / 2,
                      paper->printableY + (paper->printableHeight - h) / 2,
                      w,
                      h};
    }
    page.picture = std::move(*picture);
    return page;
}

bool ImagesToPDFConverter::AddImagePage(const std::optional<fs::path>& imageURL, platform::PdfBuilder* document,
                                        int index, std::optional<double> angle) const {
    std::optional<PreparedImagePage> page = PrepareImagePage(imageURL, angle);
    return page && document && document->InsertPicturePage(page->picture, page->frame, index);
}

namespace {

// The entries that are there, in order.
std::vector<const AssemblyFileEntry*> PresentEntries(const std::vector<std::optional<AssemblyFileEntry>>& list) {
    std::vector<const AssemblyFileEntry*> entries;
    for (const std::optional<AssemblyFileEntry>& entry : list)
        if (entry) entries.push_back(&*entry);
    return entries;
}

}  // namespace

std::uint8_t ImagesToPDFConverter::ConvertEachImage() {
    const std::vector<const AssemblyFileEntry*> entries = PresentEntries(fileList);
    if (entries.empty()) return 1;
    // Without a folder there is nowhere to write.
    if (destinationURL.empty()) return 0;
    std::uint8_t result = 1;
    OrderedWork<std::optional<PreparedImagePage>> pages(static_cast<int>(entries.size()), [&](int i) {
        return PrepareImagePage(entries[static_cast<std::size_t>(i)]->filePath, entries[static_cast<std::size_t>(i)]->angle);
    });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Report(kStatusNextFile);
        std::optional<PreparedImagePage> page = pages.Take(static_cast<int>(i));
        result = 0;
        if (page) {
            platform::PdfBuilder document;
            if (document.InsertPicturePage(page->picture, page->frame, 0)) {
                const fs::path output = GetUniqueFileURLForFile(destinationURL, *entries[i]->filePath, "pdf", false);
                const std::optional<std::vector<std::uint8_t>> bytes = document.Write(writeOptions);
                result = bytes && SafeSavePDF(*bytes, output, false) ? 1 : 0;
            }
        }
        if (Cancelled()) return 0;
    }
    return result;
}

std::uint8_t ImagesToPDFConverter::CombineImages() {
    const std::vector<const AssemblyFileEntry*> entries = PresentEntries(fileList);
    if (entries.empty()) return 1;
    platform::PdfBuilder document;
    std::uint8_t result = 1;
    int index = 0;
    OrderedWork<std::optional<PreparedImagePage>> pages(static_cast<int>(entries.size()), [&](int i) {
        return PrepareImagePage(entries[static_cast<std::size_t>(i)]->filePath, entries[static_cast<std::size_t>(i)]->angle);
    });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Report(kStatusNextFile);
        std::optional<PreparedImagePage> page = pages.Take(static_cast<int>(i));
        const bool added = page && document.InsertPicturePage(page->picture, page->frame, index);
        result = added ? 1 : 0;
        if (added) ++index;
        if (Cancelled()) return 0;
    }
    if (document.PageCount() == 0) return result;
    if (destinationURL.empty()) return 0;
    Report(kStatusWritingDocument);
    const std::optional<std::vector<std::uint8_t>> bytes = document.Write(writeOptions);
    const bool saved = bytes && SafeSavePDF(*bytes, destinationURL, false);
    Report(kStatusDocumentWritten);
    return saved ? 1 : 0;
}

std::uint8_t ConvertImagesToPDF(const ImagesToPDFConversion* record) {
    if (!record) return 0;
    try {
        ImagesToPDFConverter converter;
        converter.SetOptions(*record);
        converter.SetProgressCallback(record->progressTarget, record->progressSelector);
        return record->combineIntoOne ? converter.CombineImages() : converter.ConvertEachImage();
    } catch (...) {
        return 0;
    }
}
