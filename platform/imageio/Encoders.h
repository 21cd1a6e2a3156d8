#pragma once

#include "platform/imageio/ImageDestination.h"

// The encoders of the writer layer, one file each under platform/imageio/.
namespace platform::encoders {

bool EncodePNG(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeJPEG(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeTIFF(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeGIF(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeJPEG2000(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeBMP(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodePDF(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);

}  // namespace platform::encoders
