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
bool EncodePhotoshop(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeOpenExr(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeIcns(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeTga(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeSgi(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodePict(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeIllustrator(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeMacPaint(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeQuickTimeImage(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeIco(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeXbm(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeFlashPix(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeFax(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);
bool EncodeDng(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out);

}  // namespace platform::encoders
