// The image-file path of the converter: opening a source image file, writing its
// representations in another type, and the two entries over them.
#include "engine/images/ImageFileConversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <system_error>
#include <thread>

#include "Common UI Code/OVXUtil.h"
#include "engine/ImageConverter.h"
#include "engine/OutputFile.h"
#include "platform/WorkerBudget.h"
#include "platform/imageio/PdfPages.h"
#include "platform/imageio/RowEncoder.h"
#include "platform/imageio/encoders/WebPEncoder.h"
#include "platform/imageio/readers/WebPDecoder.h"

namespace fs = std::filesystem;

namespace {

// Pixels per inch of `pixels` over `points`; 72 where the size gives none (a zero-size
// representation would otherwise give an infinite or undefined resolution).
float ResolutionOf(int pixels, double points) {
    if (pixels <= 0 || !(points > 0)) return 72.0f;
    const float resolution = static_cast<float>(pixels / (points / 72.0));
    return std::isfinite(resolution) && resolution > 0 ? resolution : 72.0f;
}

// Writes `bytes` as the file at `path`, replacing one there only once complete.
bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes,
               const std::optional<FileAttributes>& attributes) {
    std::optional<PendingFile> file = PendingFile::Create(path);
    if (!file || !file->Write(bytes.data(), bytes.size())) return false;
    return file->Commit(true, attributes);
}

const char* IdentifierOfBitmapFileType(BitmapFileType type) {
    switch (type) {
        case BitmapFileType::TIFF: return "public.tiff";
        case BitmapFileType::BMP: return "com.microsoft.bmp";
        case BitmapFileType::GIF: return "com.compuserve.gif";
        case BitmapFileType::PNG: return "public.png";
        case BitmapFileType::JPEG2000: return "public.jpeg-2000";
        case BitmapFileType::JPEG: break;
    }
    return "public.jpeg";
}

// Runs `body` on a converter and gives 0 when anything escapes it: the entries never throw.
// The one picture of the call may use every processor (decoders and encoders that split their
// work share it out).
template <typename Body>
std::uint8_t Guarded(Body body) {
    try {
        platform::ScopedWorkerBudget budget(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
        return body();
    } catch (...) {
        return 0;
    }
}

// New temporary file names for the WebP paths' intermediate TIFF files, to be tried in turn: in
// memory (/dev/shm) unless TMPDIR names a folder of the user's choice, as writing a whole
// uncompressed picture to a disk that other work keeps busy costs more than the encoding itself;
// then in the temporary folder, for a picture the memory file system has no room for.
std::vector<fs::path> IntermediateFileURLs() {
    std::vector<fs::path> urls;
    const std::optional<fs::path> url = GetTemporaryFileURL();
    if (!url) return urls;
    const fs::path memory = "/dev/shm";
    std::error_code ec;
    if (!std::getenv("TMPDIR") && fs::is_directory(memory, ec) && ::access(memory.c_str(), W_OK | X_OK) == 0)
        urls.push_back(memory / url->filename());
    urls.push_back(*url);
    return urls;
}

// Removes a file when it goes out of scope.
struct RemovedAtEnd {
    fs::path path;
    ~RemovedAtEnd() {
        std::error_code ignored;
        if (!path.empty()) fs::remove(path, ignored);
    }
};

// The image as an LZW TIFF file made anew at `path` (with the converter's resolution and
// metadata), encoded straight into the file; `made` removes the file once it is made.
bool WriteIntermediateTIFF(ImageConverter& converter, const platform::Bitmap& image, const fs::path& path,
                           RemovedAtEnd& made) {
    const std::int32_t type = converter.imageType;
    converter.imageType = kOutputTIFF;
    const platform::DestinationProperties properties = converter.CreateDestinationProperties();
    const std::string identifier = converter.CreateUTIForOutputType();
    converter.imageType = type;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    made.path = path;
    platform::FileSink sink(fd);
    bool ok = false;
    if (std::unique_ptr<platform::RowEncoder> encoder = platform::OpenRowEncoder(identifier, image, properties, sink))
        ok = encoder->WriteRows(image) && encoder->Finish();
    return ::close(fd) == 0 && ok;
}

// One representation as a WebP file at `destinationURL`: the image as an LZW TIFF (with the
// converter's resolution and metadata) in a temporary file, which the WebP encoder reads and
// encodes at the converter's quality, lossless at exactly 1. The encoder writes the output
// whole or not at all.
bool WriteWebP(ImageConverter& converter, const platform::Bitmap& image) {
    RemovedAtEnd removed;
    for (const fs::path& url : IntermediateFileURLs()) {
        RemovedAtEnd attempt;  // a file left incomplete goes before the next place is tried
        if (WriteIntermediateTIFF(converter, image, url, attempt)) {
            std::swap(removed.path, attempt.path);
            break;
        }
    }
    if (removed.path.empty()) return false;

    WebPConfig config;
    if (!WebPConfigInit(&config)) return false;
    // The one picture of the call may use the processors it was given (the bitstream is the same).
    config.thread_level = platform::WorkerBudget() > 1 ? 1 : 0;
    if (converter.quality == 1.0f) {
        config.lossless = 1;
        config.alpha_compression = 1;
    } else {
        config.quality = converter.quality * 100;
        config.alpha_quality = static_cast<int>(converter.quality * 100);
    }
    if (platform::EncodePictureFileToWebP(removed.path.c_str(), converter.destinationURL.c_str(), &config,
                                          platform::kKeepMetadataEXIF) != platform::kWebPEncodeDone)
        return false;
    if (converter.outputFileAttributes && converter.outputFileAttributes->permissions) {
        std::error_code ignored;
        fs::permissions(converter.destinationURL, *converter.outputFileAttributes->permissions,
                        fs::perm_options::replace, ignored);
    }
    return true;
}

}  // namespace

bool CreateImageFromData(const std::vector<std::uint8_t>& data, std::shared_ptr<platform::Bitmap>& image) {
    std::unique_ptr<platform::ImageSource> source = platform::OpenImageData(data.data(), data.size());
    platform::ImageRepresentation rep;
    if (!source || !source->Read(0, rep) || !rep.bitmap) return false;
    image = std::make_shared<platform::Bitmap>(std::move(rep.bitmap));
    return true;
}

std::shared_ptr<const platform::ImageRepresentation> BitmapImageRepForImage(platform::ImageSource* image) {
    if (!image) return nullptr;
    auto rep = std::make_shared<platform::ImageRepresentation>();
    if (!image->Read(0, *rep) || !rep->bitmap) return nullptr;
    return rep;
}

bool ImageConverter::OpenSourceImage(const fs::path& url) {
    sourceURL = url;
    sourceImage = platform::OpenImageFile(url);
    sourceImageRep = BitmapImageRepForImage(sourceImage.get());
    firstRepresentation = sourceImageRep;
    if ((!sourceImage || !sourceImageRep) && url.extension() == ".webp") OpenWebPSource(url);
    return sourceImage && sourceImageRep;
}

bool ImageConverter::OpenWebPSource(const fs::path& url) {
    const std::shared_ptr<const platform::ImageBytes> bytes = platform::ImageBytes::MapFile(url);
    if (!bytes || bytes->size() == 0) return false;
    fs::path tiff;
    int decoded = platform::kWebPWriteFailed;
    // The next place only when the picture could not be written (the decoder leaves no file then).
    for (const fs::path& url : IntermediateFileURLs()) {
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) return false;
        tiff = url.string() + ".tif";
        decoded = platform::DecodeWebPToTIFFFile(bytes->data(), bytes->size(), &config, tiff.c_str());
        if (decoded != platform::kWebPWriteFailed) break;
    }
    if (decoded != platform::kWebPDecodeDone) return false;
    std::unique_ptr<platform::ImageSource> image = platform::OpenImageFile(tiff);
    std::shared_ptr<const platform::ImageRepresentation> rep = BitmapImageRepForImage(image.get());
    if (!image || !rep) {
        std::error_code ignored;
        fs::remove(tiff, ignored);
        return false;
    }
    // The converter's destructor removes the file.
    sourceImage = std::move(image);
    sourceImageRep = firstRepresentation = std::move(rep);
    sourceURL = tiff;
    sourceIsTemporary = 1;
    return true;
}

std::shared_ptr<const platform::ImageRepresentation> ImageConverter::SourceBitmapRep() {
    return BitmapImageRepForImage(sourceImage.get());
}

std::int32_t ImageConverter::SourceImageType() const { return ImageTypeOfURL(sourceURL); }

std::int32_t ImageConverter::DetectSourceType() const {
    std::unique_ptr<platform::ImageSource> source = platform::OpenImageFile(sourceURL);
    return source ? ImageTypeForUTI(source->typeIdentifier(), false) : 0;
}

std::optional<platform::DestinationProperties> ImageConverter::BitmapRepProperties() const {
    platform::DestinationProperties properties;
    switch (imageType) {
        case kOutputTIFF:
        case kOutputTIFFCMYK:
        case kOutputMultiPageTIFF: properties.tiffCompression = 5; return properties;  // LZW
        case kOutputJPEG2000:
        case kOutputJPEG: properties.lossyQuality = quality; return properties;
        default: return std::nullopt;
    }
}

void ImageConverter::CopySourceImageProperties(platform::DestinationProperties& properties) const {
    if (!sourceImageRep || !sourceImageRep->metadata || sourceImageRep->metadata->empty()) return;
    const platform::ImageMetadata& source = *sourceImageRep->metadata;
    if (source.exif.empty() || !(resolutionX > 0) || !(resolutionY > 0)) {
        properties.metadata = sourceImageRep->metadata;
        return;
    }
    // The EXIF block says the written resolution; its orientation stays the source's, as the
    // pixels are written as they were read.
    auto metadata = std::make_shared<platform::ImageMetadata>(source);
    metadata->exif = platform::ExifWithResolution(source.exif, resolutionX, resolutionY);
    properties.metadata = std::move(metadata);
}

bool ImageConverter::EncodeSourceImage(std::vector<std::uint8_t>& data) {
    data.clear();
    std::shared_ptr<const platform::ImageRepresentation> rep = SourceBitmapRep();
    if (!rep) return false;
    if (!sourceImageRep) sourceImageRep = rep;
    if (useSourceResolution) {
        resolutionX = ResolutionOf(sourceImageRep->pixelsWide(), sourceImageRep->widthInPoints());
        resolutionY = ResolutionOf(sourceImageRep->pixelsHigh(), sourceImageRep->heightInPoints());
    }
    if (TypeSupportedByBitmapRep(imageType) && useSourceResolution) {
        platform::DestinationProperties properties = BitmapRepProperties().value_or(platform::DestinationProperties{});
        properties.dpiWidth = resolutionX;
        properties.dpiHeight = resolutionY;
        return platform::EncodeImageData(IdentifierOfBitmapFileType(BitmapFileTypeForImageType(imageType)),
                                         rep->bitmap, properties, data);
    }
    return EncodeImage(rep->bitmap, data);
}

bool ImageConverter::ConvertRepresentations() {
    if (!sourceImage) return false;
    const std::size_t n = sourceImage->count();
    if (n == 0) return false;
    const std::string name = FileNameWithoutExtension(destinationURL);
    std::string extension = destinationURL.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    const fs::path folder = destinationURL.parent_path() / name;
    const bool intoFolder = n >= 2 && imageType != kOutputPDF;
    const bool intoDocument = n >= 2 && imageType == kOutputPDF;
    if (intoFolder) {
        std::error_code ignored;
        fs::create_directories(folder, ignored);
    }

    bool all = true;
    std::vector<std::vector<std::uint8_t>> pages;  // one-page documents, joined at the end
    for (std::size_t i = 0; i < n; ++i) {
        if (intoFolder) destinationURL = GetUniqueFileURL(folder, name, extension, false);
        // The representation before this one is let go before this one is decoded.
        if (i > 0) sourceImageRep.reset();
        std::shared_ptr<const platform::ImageRepresentation> rep;
        if (i == 0 && firstRepresentation) {
            rep = std::move(firstRepresentation);  // held once: its memory goes with its turn
        } else {
            auto read = std::make_shared<platform::ImageRepresentation>();
            if (sourceImage->Read(i, *read) && read->bitmap) rep = std::move(read);
        }
        if (!rep) {
            all = false;
            continue;
        }
        // Each representation is written with its own resolution and metadata.
        sourceImageRep = rep;
        if (useSourceResolution) {
            resolutionX = ResolutionOf(rep->pixelsWide(), rep->widthInPoints());
            resolutionY = ResolutionOf(rep->pixelsHigh(), rep->heightInPoints());
        }
        const platform::Bitmap& image = rep->bitmap;

        // The bitmap writer, for the common types at the source's resolution without metadata.
        const bool bitmapWriter = (imageType == kOutputGIF || imageType == kOutputJPEG || imageType == kOutputPNG ||
                                   imageType == kOutputTIFF || imageType == kOutputTIFFCMYK) &&
                                  useSourceResolution && !keepMetadata;
        if (bitmapWriter && !returnImageInstead) {
            platform::DestinationProperties properties =
                BitmapRepProperties().value_or(platform::DestinationProperties{});
            properties.dpiWidth = resolutionX;
            properties.dpiHeight = resolutionY;
            std::vector<std::uint8_t> bytes;
            if (platform::EncodeImageData(IdentifierOfBitmapFileType(BitmapFileTypeForImageType(imageType)), image,
                                          properties, bytes) &&
                WriteFile(destinationURL, bytes, outputFileAttributes))
                continue;
        }

        bool written;
        if (intoDocument) {
            std::vector<std::uint8_t> page;
            written = EncodeImage(image, page);
            if (written) pages.push_back(std::move(page));
        } else if (imageType == kOutputWebP) {
            written = WriteWebP(*this, image);
        } else {
            written = WriteImage(image);
            if (!written) {
                // Once more from a TIFF of the image, as the system writer may take that form.
                const std::int32_t type = imageType;
                imageType = kOutputTIFF;
                std::vector<std::uint8_t> tiff;
                const bool encoded = EncodeImage(image, tiff);
                imageType = type;
                std::shared_ptr<platform::Bitmap> again;
                written = encoded && CreateImageFromData(tiff, again) && WriteImage(*again);
            }
        }
        all = all && written;
    }
    if (intoDocument) {
        // The document holds the pages that were made, in order; without any there is no file.
        std::vector<std::uint8_t> document;
        if (!platform::JoinPdfDocuments(pages, document) || !WriteFile(destinationURL, document, outputFileAttributes))
            return false;
    }
    return all;
}

std::uint8_t ConvertImageFile(const ImageConversion* conversion) {
    if (!conversion || conversion->sourceURL.empty() || conversion->outputFolderURL.empty()) return 0;
    return Guarded([&]() -> std::uint8_t {
        ImageConverter converter;
        if (!converter.OpenSourceImage(conversion->sourceURL)) return 0;
        const ImageConversionOptions& options = conversion->conversionOptions;
        converter.SetOutputOptions(options.imageType, conversion->outputFolderURL, options.compressionQuality);
        converter.SetResolution(options.outputResolution, options.outputResolution);
        if (options.outputResolution == 0) converter.useSourceResolution = 1;
        converter.keepMetadata = options.keepMetadata;
        if (conversion->outputFileAttributes) converter.outputFileAttributes = conversion->outputFileAttributes;
        return converter.ConvertRepresentations() ? 1 : 0;
    });
}

std::uint8_t RenderImageFileToImage(ImageConversion* conversion) {
    if (!conversion || conversion->sourceURL.empty()) return 0;
    if (conversion->outputFolderURL.empty() && !conversion->returnImageInstead) return 0;
    return Guarded([&]() -> std::uint8_t {
        ImageConverter converter;
        if (!converter.OpenSourceImage(conversion->sourceURL)) return 0;
        const ImageConversionOptions& options = conversion->conversionOptions;
        converter.SetOutputOptions(options.imageType, conversion->outputFolderURL, options.compressionQuality);
        if (conversion->textWatermarkEnabled) converter.SetWatermarkOptions(conversion->watermarkOptions, true);
        if (conversion->imageWatermarkEnabled) converter.SetWatermarkOptions(conversion->watermarkOptions, false);
        converter.rotationAngle = conversion->rotationAngle;
        converter.flipFlags = conversion->flipFlags;
        converter.keepMetadata = options.keepMetadata;
        converter.returnImageInstead = conversion->returnImageInstead;
        if (conversion->outputFileAttributes) converter.outputFileAttributes = conversion->outputFileAttributes;
        const bool ok = converter.ResizeAndWriteImage(conversion->resizeOptions);
        if (ok && conversion->returnImageInstead && converter.outputImage) conversion->outputImage = converter.outputImage;
        return ok ? 1 : 0;
    });
}
