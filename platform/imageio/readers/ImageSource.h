#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/imageio/ImageMetadata.h"

// Our stand-in for the system image readers, the counterpart of the encoder registry
// (ImageDestination.h): a file, from a path or from memory, recognised by its first bytes and
// read by the library of its format into its representations (the pages of a TIFF, the frames of
// a GIF, the entries of an icon file).
namespace platform {

// The colour of the file's samples, before they became the bitmap's grey, RGB or CMYK.
enum class SourceColorKind { Grey, RGB, CMYK, Indexed };

// One representation as read. The bitmap holds 8 bits a sample (wider samples scaled, so that
// their full scale stays full scale) in grey, RGB or CMYK (0 = no ink), its alpha premultiplied.
struct ImageRepresentation {
    Bitmap bitmap;
    float dpiX = 0, dpiY = 0;   // as the file states them; 0 when it states none
    SourceColorKind colorKind = SourceColorKind::RGB;
    int bitsPerSample = 8;      // of the file's samples (palette index bits for indexed files)
    bool hasAlpha = false;      // the file has an alpha channel or a transparent colour
    int orientation = 1;        // EXIF orientation 1..8 the file asks for (the pixels are not turned)
    std::shared_ptr<const ImageMetadata> metadata;  // ICC profile, EXIF, XMP; never null once read

    int pixelsWide() const { return bitmap.width; }
    int pixelsHigh() const { return bitmap.height; }
    // The size in points: 72 × pixels ÷ dpi, at 72 dpi when the file states none.
    double widthInPoints() const;
    double heightInPoints() const;
};

// An opened image file. Representations are decoded when asked for, one at a time, so that a
// file of many large pages never holds them all in memory.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    // The uniform type identifier of the file's format, e.g. "public.png".
    const std::string& typeIdentifier() const { return typeIdentifier_; }
    // How many representations the file holds (at least 1).
    virtual std::size_t count() const = 0;
    // Decodes representation `index`. False (and `out` left empty) when it cannot be read.
    virtual bool Read(std::size_t index, ImageRepresentation& out) = 0;

protected:
    explicit ImageSource(std::string typeIdentifier) : typeIdentifier_(std::move(typeIdentifier)) {}

private:
    std::string typeIdentifier_;
};

// The bytes of a file: mapped from disk, or held in memory.
class ImageBytes {
public:
    static std::shared_ptr<const ImageBytes> MapFile(const std::filesystem::path& path);
    static std::shared_ptr<const ImageBytes> Copy(const std::uint8_t* data, std::size_t size);
    ImageBytes(const ImageBytes&) = delete;
    ImageBytes& operator=(const ImageBytes&) = delete;
    ~ImageBytes();
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    // Lets the system take back the memory of a mapped file's pages until they are read again
    // (a decoded picture no longer needs its file's bytes at hand).
    void Evict() const;

private:
    ImageBytes() = default;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
    std::vector<std::uint8_t> owned_;
};

// The type identifier the first bytes of a file show ("" when no reader knows them). The name is
// consulted only where the bytes cannot tell: TGA files have no signature, and camera raw files
// are TIFF files or worse. WebP is not read here ("" for a WebP file).
std::string SniffTypeIdentifier(const std::uint8_t* data, std::size_t size, const std::filesystem::path& name = {});

// Opens a file for reading; nullptr when it cannot be read, its format is not known, or its
// header cannot be parsed (its representations are then never decoded).
std::unique_ptr<ImageSource> OpenImageFile(const std::filesystem::path& path);
std::unique_ptr<ImageSource> OpenImageData(const std::uint8_t* data, std::size_t size,
                                           const std::filesystem::path& nameHint = {});

// Whether a width × height bitmap with `components` samples a pixel stays under the bitmap cap
// (kMaxBitmapBytes). Readers ask this from the header, before any allocation.
bool FitsBitmapCap(std::uint64_t width, std::uint64_t height, int components);

}  // namespace platform
