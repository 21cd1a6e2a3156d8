#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "platform/imageio/readers/ImageSource.h"

// The format readers behind the registry (ImageSource.cpp), one file each. Each takes the file's
// bytes (kept alive by the source it returns) and parses the header; nullptr when it cannot.
namespace platform::readers {

using Bytes = std::shared_ptr<const ImageBytes>;

// The registry's own entry: sniffs the bytes (`name` helps where they cannot tell) and opens
// them with their format's reader.
std::unique_ptr<ImageSource> OpenImageBytes(Bytes bytes, const std::filesystem::path& name);

std::unique_ptr<ImageSource> OpenPng(Bytes bytes);
std::unique_ptr<ImageSource> OpenJpeg(Bytes bytes);
std::unique_ptr<ImageSource> OpenTiff(Bytes bytes);
std::unique_ptr<ImageSource> OpenGif(Bytes bytes);
std::unique_ptr<ImageSource> OpenJpeg2000(Bytes bytes);
std::unique_ptr<ImageSource> OpenExr(Bytes bytes);
std::unique_ptr<ImageSource> OpenCameraRaw(Bytes bytes);
std::unique_ptr<ImageSource> OpenPsd(Bytes bytes);
std::unique_ptr<ImageSource> OpenSgi(Bytes bytes);
std::unique_ptr<ImageSource> OpenTga(Bytes bytes);
std::unique_ptr<ImageSource> OpenMacPaint(Bytes bytes);
std::unique_ptr<ImageSource> OpenPict(Bytes bytes);
std::unique_ptr<ImageSource> OpenQuickTimeImage(Bytes bytes);
std::unique_ptr<ImageSource> OpenFlashPix(Bytes bytes);
// Formats read by Qt's image readers; `format` is Qt's name for it ("bmp", "tga", ...).
std::unique_ptr<ImageSource> OpenWithQt(Bytes bytes, const char* format, const char* typeIdentifier);

// A source whose representations were all decoded when it was opened (small formats, and those
// whose library decodes everything at once).
class DecodedSource : public ImageSource {
public:
    DecodedSource(std::string typeIdentifier, std::vector<ImageRepresentation> representations)
        : ImageSource(std::move(typeIdentifier)), representations_(std::move(representations)) {}
    std::size_t count() const override { return representations_.size(); }
    bool Read(std::size_t index, ImageRepresentation& out) override {
        if (index >= representations_.size()) return false;
        out = representations_[index];
        return true;
    }

private:
    std::vector<ImageRepresentation> representations_;
};

// nullptr when `representations` is empty.
std::unique_ptr<ImageSource> MakeDecodedSource(const char* typeIdentifier,
                                               std::vector<ImageRepresentation> representations);

// Premultiplies the colour of interleaved samples whose last sample is alpha, in place.
void PremultiplyRow(std::uint8_t* row, int width, int components);

// A 16-bit sample scaled to 8 bits, rounded (65535 stays 255, 32768 becomes 128).
inline std::uint8_t Scale16To8(unsigned v) { return static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u); }

// Decodes PackBits-coded `in` into exactly `n` bytes of `out`; the bytes of `in` used go to
// `consumed`. False when the data run short or overflow.
bool UnpackBits(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t n,
                std::size_t* consumed = nullptr);

// An empty metadata record, shared.
std::shared_ptr<const ImageMetadata> NoMetadata();

}  // namespace platform::readers
