#pragma once

#include <webp/encode.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The picture readers of the WebP encoders: a PNG, JPEG or TIFF file (or raw YUV 4:2:0 planes)
// decoded with libpng, libjpeg or libtiff straight into a libwebp picture, with the EXIF, ICC
// profile and XMP the file carries collected into a metadata record. They are not the image
// readers of the registry (ImageSource.h): they print their reasons on standard error, keep alpha
// straight and hand their pixels to libwebp's import functions.
namespace platform {

// Which metadata to keep: a set of bits; other bits are ignored.
using KeepMetadataBits = std::int32_t;
constexpr KeepMetadataBits kKeepMetadataNone = 0;
constexpr KeepMetadataBits kKeepMetadataEXIF = 1;
constexpr KeepMetadataBits kKeepMetadataICC = 2;
constexpr KeepMetadataBits kKeepMetadataXMP = 4;
constexpr KeepMetadataBits kKeepMetadataAll = 7;

// One payload, in a buffer of the C allocator's; none and 0 when empty.
struct MetadataBlob {
    std::uint8_t* bytes = nullptr;
    std::uint64_t size = 0;
};

// The caller owns the record; the readers fill it; PictureMetadataFree releases it.
struct PictureMetadata {
    MetadataBlob exif;  // from a JPEG, the TIFF-structured block after the "Exif" signature
    MetadataBlob icc;
    MetadataBlob xmp;
};

void PictureMetadataInit(PictureMetadata* record);
void MetadataBlobRelease(MetadataBlob* blob);
void PictureMetadataFree(PictureMetadata* record);
// Copies `length` bytes into an empty blob; false for no source, no length, no blob or no memory.
bool MetadataBlobCopy(const std::uint8_t* source, std::uint64_t length, MetadataBlob* blob);

// Reads the picture file at `path` into `picture` (whose width and height are 0, or the size of
// raw YUV 4:2:0 planes to read). `keepAlpha` 0 drops alpha. `metadata` may be null. True when
// read; otherwise the reason is on standard error and `metadata` is left empty.
bool ReadPictureFile(const char* path, WebPPicture* picture, int keepAlpha, PictureMetadata* metadata);
// The readers behind it; PNG and JPEG read from an open file at its start.
bool ReadPNGPicture(std::FILE* file, WebPPicture* picture, int keepAlpha, PictureMetadata* metadata);
bool ReadJPEGPicture(std::FILE* file, WebPPicture* picture, PictureMetadata* metadata);
bool ReadTIFFPicture(const char* path, WebPPicture* picture, int keepAlpha, PictureMetadata* metadata);

// The payload of a raw-profile text ("\n<name>\n<decimal length>\n<hexadecimal pairs>") into an
// empty blob. False when malformed or shorter than its declared length.
bool ParseRawProfileText(const char* text, std::size_t length, MetadataBlob* blob);

// One APP2 segment of an ICC profile kept in a JPEG's markers.
struct ICCSegment {
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
    std::int32_t sequence = 0;  // 1 to 255
};
// Orders ICC segments by sequence number (for qsort).
int CompareICCSegments(const void* a, const void* b);

}  // namespace platform
