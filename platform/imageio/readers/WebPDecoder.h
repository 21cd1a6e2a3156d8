#pragma once

#include <webp/decode.h>

#include <cstddef>
#include <cstdint>

// WebP files decoded with libwebp, and decoded buffers saved as files: the engine opens a WebP
// source through an uncompressed TIFF written here (the intermediate TIFF).
namespace platform {

// Results of the decoding operations.
constexpr int kWebPDecodeDone = 0;
constexpr int kWebPNoDecoderConfig = -233;  // a decoder configuration could not be initialised
constexpr int kWebPNoFeatures = -234;       // the data are not a WebP stream
constexpr int kWebPDecodeFailed = -235;     // the stream did not decode
constexpr int kWebPAnimated = -236;         // an animation, which is not decoded
constexpr int kWebPWriteFailed = -237;      // the decoded picture could not be written

// The formats of SaveDecodedBuffer.
enum DecodedOutputFormat : int {
    kDecodedPNG = 0,
    kDecodedPAM = 1,
    kDecodedPPM = 2,
    kDecodedPGM = 3,
    kDecodedBMP = 4,
    kDecodedTIFF = 5,
    kDecodedRawYUV = 6,
    kDecodedAlphaPGM = 7,
};

// The size of the intermediate TIFF's header; the pixel rows follow it.
constexpr std::size_t kIntermediateTIFFHeader = 210;

// Decodes the WebP file in `data` with `config` (initialised by the caller) and, with
// `tiffPath`, writes it as an intermediate TIFF there: RGB, or RGBA with premultiplied colour
// when the stream has alpha. A failed decoding or write leaves no file. The output buffer is
// freed before returning.
int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config, const char* tiffPath);

// Writes a decoded buffer at `path` ("-" for standard output) in `format`, reporting on standard
// error. The buffer's colour mode must suit the format: PNG RGB or RGBA, PAM RGBA, PPM RGB, BMP
// BGR or BGRA, TIFF RGB, RGBA or rgbA, the PGM and raw formats YUV or YUVA (the alpha plane
// YUVA). False, with no file made, for an unknown format, a mode that does not suit it or a size
// its header fields cannot hold; false, with the partial file removed, when the write fails.
bool SaveDecodedBuffer(const WebPDecBuffer* buffer, DecodedOutputFormat format, const char* path);

// Whether a `width` × `height` picture decoded in `mode` fits the header fields of `format`
// (a BMP's 32-bit file size, the intermediate TIFF's 16-bit sizes and 32-bit strip size).
bool DecodedSizeFits(DecodedOutputFormat format, WEBP_CSP_MODE mode, int width, int height);

// Decodes into RGBA, left in `config->output` for the caller to free (WebPFreeDecBuffer);
// -234 when the data are not WebP, else 0 whatever the decoding gave.
int DecodeWebPToRGBA(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config);

// The stream's width and height.
int GetWebPDimensions(const std::uint8_t* data, std::size_t size, int* width, int* height);

// The command-line decoder's verbose switch: SaveDecodedBuffer then also reports its time.
void SetDecodedBufferVerbose(bool verbose);

}  // namespace platform
