#pragma once

#include <cstddef>
#include <cstdint>

// The WebP command-line tools, each a whole program run on a process's arguments: exit status 0,
// or -1 on failure. Nothing in the engine calls them; thin executables do (cli/).

// Encodes a PNG, JPEG, TIFF or raw YUV 4:2:0 file as a WebP file, with libwebp's every setting,
// and reports statistics, a macroblock map and distortion figures.
int EncoderToolMain(int argc, const char* const argv[]);

// Decodes a WebP file to PNG, PAM, PPM, PGM, BMP, TIFF, raw YUV or its alpha plane.
int DecoderToolMain(int argc, const char* const argv[]);

// The whole file at `path` in a new buffer (free it with std::free); false, with a message,
// when it cannot be read.
bool ReadWholeFile(const char* path, const std::uint8_t** data, std::size_t* size);
// A new file at `path` holding the bytes.
bool WriteWholeFile(const char* path, const std::uint8_t* data, std::size_t size);

// Clears libwebp's processor-feature probe, so that its plain C paths are used from the next
// encoding or decoding of the process on.
void DisableWebPProcessorFeatures();
