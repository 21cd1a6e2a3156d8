// The writer layer of the converter: destination properties, type identifiers and the file.
#include <memory>

#include "engine/ImageConverter.h"
#include "engine/OutputFile.h"
#include "engine/OutputTypes.h"
#include "platform/imageio/ImageDestination.h"

std::string ImageConverter::CreateUTIForOutputType() const { return TypeIdentifierForOutputType(imageType); }

platform::DestinationProperties ImageConverter::CreateDestinationProperties() const {
    platform::DestinationProperties properties;
    if (keepMetadata && TypeKeepsMetadata(imageType)) CopySourceImageProperties(properties);
    const OutputTypeFacts& type = WriterFactsForOutputType(imageType);
    if (orientation != 0) properties.orientation = orientation;
    if (type.alpha) properties.hasAlpha = true;
    if (resolutionX != 0 || resolutionY != 0) {
        properties.dpiWidth = resolutionX;
        properties.dpiHeight = resolutionY;
    }
    if (type.tiffCompression != 0) properties.tiffCompression = type.tiffCompression;
    if (type.lossy) properties.lossyQuality = quality;
    return properties;
}

bool ImageConverter::EncodeImage(const platform::Bitmap& image, std::vector<std::uint8_t>& data) {
    const platform::DestinationProperties properties = CreateDestinationProperties();
    const std::string identifier = CreateUTIForOutputType();
    return platform::EncodeImageData(identifier, image, properties, data);
}

bool ImageConverter::WriteImage(const platform::Bitmap& image, const std::filesystem::path& url) {
    if (returnImageInstead) {
        if (!image) return false;
        outputImage = std::make_shared<platform::Bitmap>(image);
        return true;
    }
    std::vector<std::uint8_t> data;
    const bool encoded = EncodeImage(image, data);
    if (keepEncodedData) {
        encodedData = std::move(data);
        return encoded;
    }
    if (!encoded) return false;
    const std::filesystem::path& path = url.empty() ? destinationURL : url;
    std::optional<PendingFile> file = PendingFile::Create(path);
    if (!file || !file->Write(data.data(), data.size())) return false;
    // Free names are chosen before; a file at the name is replaced, and only by a complete one.
    return file->Commit(true, outputFileAttributes);
}
