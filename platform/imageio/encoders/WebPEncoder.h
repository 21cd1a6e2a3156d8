#pragma once

#include <webp/encode.h>

#include <cstdint>
#include <cstdio>

#include "platform/imageio/readers/PictureReaders.h"

// WebP files from picture files, with the picture's EXIF, ICC profile and XMP in chunks of the
// container.
namespace platform {

// Results of EncodePictureFileToWebP.
constexpr int kWebPEncodeDone = 0;
constexpr int kWebPEncodePictureInit = -301;   // the library refused its picture
constexpr int kWebPEncodeBadConfig = -302;     // `config` is not a valid encoder configuration
constexpr int kWebPEncodeUnreadable = -303;    // the picture file cannot be read (reason printed)
constexpr int kWebPEncodeCannotCreate = -304;  // the output file cannot be created
constexpr int kWebPEncodeFailed = -305;        // libwebp failed to encode
constexpr int kWebPEncodeWriteFailed = -306;   // writing the output file failed

// Encodes the PNG, JPEG or TIFF file at `inputPath` with `config` (only read) and writes the
// WebP file at `outputPath` with the metadata `keepMetadata` asks for. The picture is encoded
// first and the file written under a temporary name beside `outputPath`, which then replaces
// it: a failure never leaves a truncated or partial file at `outputPath`. Without `outputPath`
// the picture is encoded and the result dropped.
int EncodePictureFileToWebP(const char* inputPath, const char* outputPath, const WebPConfig* config,
                            KeepMetadataBits keepMetadata);

// Writes the encoder's whole `stream` (a WebP file) to `file`, unchanged when no blob is added,
// otherwise with a "VP8X" chunk (made, or the stream's own with its flags patched), an "ICCP"
// chunk first, "EXIF" and "XMP " chunks last. `picture` gives the width and height; `written`
// receives the bits of the blobs added. False, with nothing written, for a stream that is not a
// well-formed WebP file or that the metadata would make too large for the container.
bool WriteWebPFileWithMetadata(std::FILE* file, const WebPPicture* picture, const WebPMemoryWriter* stream,
                               const PictureMetadata* metadata, KeepMetadataBits keepMetadata,
                               KeepMetadataBits* written);

// The tag, the size (32-bit little-endian), the bytes and a zero byte when the size is odd.
bool PutMetadataChunk(std::FILE* file, const char tag[4], const MetadataBlob* blob);
// The lowest `byteCount` bytes (1 to 4) of `value`, least significant first.
bool PutLittleEndian(std::FILE* file, std::uint32_t value, int byteCount);

}  // namespace platform
