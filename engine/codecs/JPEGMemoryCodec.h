#pragma once

#include <cstddef>
#include <cstdint>

// JPEG data held in memory, over libjpeg. Samples are packed: 8 bits each, pixel-interleaved,
// rows top to bottom, each row width x components bytes, one row directly after another.
//
// CMYK samples are in our convention (0 = no ink, 255 = full ink). CMYK JPEG files carry them
// inverted, as every common reader expects of a file with an Adobe marker (otherwise viewers
// show a negative): the encoder inverts on the way out, the decoder inverts back when the file
// has an Adobe marker.

// Decodes `length` bytes of JPEG data. On success returns 0 and gives: the colour code (1 for
// one component, 2 for three, 4 for four), the samples (malloc'd: the caller frees them with
// free) and their size, the size in pixels, and the density in dots per inch when the file
// states one (a file without a density unit leaves *dpiX and *dpiY as they were; either may be
// null). Returns 1 on any failure, and then nothing needs freeing (*samples is null). Data that
// ends early decodes: the missing rows are filled in by the library.
int DecodeJPEGData(const std::uint8_t* data, std::size_t length, std::int32_t* colorCode,
                   std::uint8_t** samples, std::size_t* sampleSize, std::uint32_t* width,
                   std::uint32_t* height, double* dpiX, double* dpiY);

// Encodes packed samples as a baseline JPEG with a JFIF density in dots per inch (the densities
// truncated to integers). `colorSpace` is libjpeg's numbering (1 grey, 2 RGB, 4 CMYK; 0 for
// samples of no known space, which go into the file as they are) and must agree with
// `components`; `quality` is libjpeg's 1 to 100 scale. On success *jpeg holds the bytes
// (malloc'd: the caller frees them with free) and *jpegSize their count; on any failure *jpeg is
// null and *jpegSize 0.
void EncodeJPEGData(std::uint32_t width, std::uint32_t height, const std::uint8_t* samples,
                    std::int32_t colorSpace, std::int32_t components, double dpiX, double dpiY,
                    std::int32_t quality, std::uint8_t** jpeg, std::size_t* jpegSize);
