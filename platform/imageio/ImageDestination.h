#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <memory>

#include "platform/Bitmap.h"
#include "platform/imageio/ImageMetadata.h"

// Our stand-in for the system image writer: encoders registered by uniform type identifier,
// each turning one bitmap into the bytes of a file of its type.
namespace platform {

// What the caller asks of the encoded file; an unset entry is not asked for.
struct DestinationProperties {
    std::optional<int> orientation;        // EXIF orientation 1..8
    bool hasAlpha = false;                 // the file carries an alpha channel
    std::optional<float> dpiWidth;         // resolution in dots per inch
    std::optional<float> dpiHeight;
    std::optional<int> tiffCompression;    // TIFF compression code (5 = LZW)
    std::optional<float> lossyQuality;     // 0..1
    // ICC profile, EXIF and XMP to embed, by the formats that hold them (a profile only where
    // its colour space is the one written).
    std::shared_ptr<const ImageMetadata> metadata;
};

using ImageEncoder = bool (*)(const Bitmap& image, const DestinationProperties& properties,
                              std::vector<std::uint8_t>& out);

// What an encoder can take: its format's name for messages, the longest side the format
// stores (0: no limit of its own), and whether it needs the whole picture.
struct EncoderFacts {
    const char* name = "";
    int maxSide = 0;
    bool streamsRows = false;  // takes the picture a band of rows at a time (RowEncoder.h)
};

// The facts of the encoder for a type identifier; a refused identifier has no name.
EncoderFacts FactsOfEncoder(std::string_view typeIdentifier);

// The encoder for a type identifier, or nullptr when the identifier is refused.
ImageEncoder FindImageEncoder(std::string_view typeIdentifier);

// The identifiers of the registered encoders, in registry order.
std::vector<std::string_view> EncoderTypeIdentifiers();

// Encodes `image` under `typeIdentifier` into `out` (replacing its contents). False when the
// identifier is refused or the encoder fails; `out` is then empty.
bool EncodeImageData(std::string_view typeIdentifier, const Bitmap& image,
                     const DestinationProperties& properties, std::vector<std::uint8_t>& out);

}  // namespace platform
