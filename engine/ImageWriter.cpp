// The writer layer of the converter: destination properties, type identifiers and the file.
#include <cerrno>
#include <memory>
#include <string>

#include "engine/ImageConverter.h"
#include "engine/OutputFile.h"
#include "platform/imageio/ImageDestination.h"

bool TypeKeepsMetadata(std::int32_t imageType) {
    switch (imageType) {
        case kOutputPhotoshop:
        case kOutputGIF:
        case kOutputJPEG:
        case kOutputPNG:
        case kOutputTIFF:
        case kOutputTIFFCMYK: return true;
        default: return false;
    }
}

BitmapFileType BitmapFileTypeForImageType(std::int32_t imageType) {
    switch (imageType) {
        case kOutputGIF: return BitmapFileType::GIF;
        case kOutputJPEG2000: return BitmapFileType::JPEG2000;
        case kOutputPNG: return BitmapFileType::PNG;
        case kOutputTIFF:
        case kOutputTIFFCMYK:
        case kOutputMultiPageTIFF: return BitmapFileType::TIFF;
        case kOutputBMP: return BitmapFileType::BMP;
        default: return BitmapFileType::JPEG;
    }
}

bool TypeSupportedByBitmapRep(std::int32_t imageType) {
    switch (imageType) {
        case kOutputGIF:
        case kOutputJPEG2000:
        case kOutputJPEG:
        case kOutputPNG:
        case kOutputTIFF:
        case kOutputBMP:
        case kOutputTIFFCMYK: return true;
        default: return false;
    }
}

std::string ImageConverter::CreateUTIForOutputType() const { return TypeIdentifierForOutputType(imageType); }

platform::DestinationProperties ImageConverter::CreateDestinationProperties() const {
    platform::DestinationProperties properties;
    // The source's metadata (image-file path, with keepMetadata) joins here once that path reads
    // its sources.
    if (orientation != 0) properties.orientation = orientation;
    if (imageType == kOutputGIF || imageType == kOutputJPEG2000 || imageType == kOutputPNG)
        properties.hasAlpha = true;
    if (resolutionX != 0 || resolutionY != 0) {
        properties.dpiWidth = resolutionX;
        properties.dpiHeight = resolutionY;
    }
    if (imageType == kOutputTIFF || imageType == kOutputTIFFCMYK || imageType == kOutputMultiPageTIFF)
        properties.tiffCompression = 5;  // LZW
    if (imageType == kOutputJPEG2000 || imageType == kOutputJPEG) properties.lossyQuality = quality;
    return properties;
}

bool ImageConverter::EncodeImage(const platform::Bitmap& image, std::vector<std::uint8_t>& data) {
    const platform::DestinationProperties properties = CreateDestinationProperties();
    const std::string identifier = CreateUTIForOutputType();
    return platform::EncodeImageData(identifier, image, properties, data);
}

bool ImageConverter::WriteImage(const platform::Bitmap& image, const std::filesystem::path& url) {
    return WriteImageFile(image, url).kind == PageOutcome::Kind::Written;
}

PageOutcome ImageConverter::WriteImageFile(const platform::Bitmap& image, const std::filesystem::path& url) {
    if (returnImageInstead) {
        if (!image) return PageOutcome::Failed(ConversionFailure::WriterError, "no image");
        outputImage = std::make_shared<platform::Bitmap>(image);
        return PageOutcome::Written();
    }
    std::vector<std::uint8_t> data;
    const bool encoded = EncodeImage(image, data);
    const PageOutcome refused = PageOutcome::Failed(ConversionFailure::WriterError,
                                                    "the " + std::string(platform::FactsOfEncoder(CreateUTIForOutputType()).name) +
                                                        " encoder failed");
    if (keepEncodedData) {
        encodedData = std::move(data);
        return encoded ? PageOutcome::Written() : refused;
    }
    if (!encoded) return refused;
    const std::filesystem::path& path = url.empty() ? destinationURL : url;
    std::optional<PendingFile> file = PendingFile::Create(path);
    if (!file) return FileOutcome(errno);
    if (!file->Write(data.data(), data.size())) return FileOutcome(file->error());
    // Free names are chosen before; a file at the name is replaced, and only by a complete one.
    if (!file->Commit(true, outputFileAttributes)) return FileOutcome(file->error());
    return PageOutcome::Written();
}
