// The writer layer of the converter: destination properties, type identifiers and the file.
#include <cerrno>
#include <memory>
#include <string>

#include "engine/ImageConverter.h"
#include "engine/OutputFile.h"
#include "engine/OutputTypes.h"
#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/RowEncoder.h"

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
    return WriteImageFile(image, url).kind == PageOutcome::Kind::Written;
}

PageOutcome ImageConverter::WriteImageFile(const platform::Bitmap& image, const std::filesystem::path& url) {
    if (returnImageInstead) {
        if (!image) return PageOutcome::Failed(ConversionFailure::WriterError, "no image");
        outputImage = std::make_shared<platform::Bitmap>(image);
        return PageOutcome::Written();
    }
    const std::string identifier = CreateUTIForOutputType();
    const PageOutcome refused = PageOutcome::Failed(ConversionFailure::WriterError,
                                                    "the " + std::string(platform::FactsOfEncoder(identifier).name) +
                                                        " encoder failed");
    const std::filesystem::path& path = url.empty() ? destinationURL : url;
    if (!keepEncodedData && platform::EncodesIntoSink(identifier)) {
        // Straight into the file: an uncompressed picture's bytes are not held in memory too.
        std::optional<PendingFile> file = PendingFile::Create(path);
        if (!file) return FileOutcome(errno);
        platform::FileSink fileSink(file->descriptor());
        platform::BufferedSink sink(fileSink);
        const bool encoded = platform::EncodeImageInto(identifier, image, CreateDestinationProperties(), sink);
        if (!sink.Flush() && sink.error) return FileOutcome(sink.error);
        if (!encoded) return refused;
        if (!file->Commit(true, outputFileAttributes)) return FileOutcome(file->error());
        return PageOutcome::Written();
    }
    std::vector<std::uint8_t> data;
    const bool encoded = EncodeImage(image, data);
    if (keepEncodedData) {
        encodedData = std::move(data);
        return encoded ? PageOutcome::Written() : refused;
    }
    if (!encoded) return refused;
    std::optional<PendingFile> file = PendingFile::Create(path);
    if (!file) return FileOutcome(errno);
    if (!file->Write(data.data(), data.size())) return FileOutcome(file->error());
    // Free names are chosen before; a file at the name is replaced, and only by a complete one.
    if (!file->Commit(true, outputFileAttributes)) return FileOutcome(file->error());
    return PageOutcome::Written();
}
