#pragma once

#include <cstdint>
#include <string>
#include <vector>

// JPEG 2000 test images written with OpenJPEG's encoder, lossless: components of a given
// precision and signedness, samples as given (component-major, one plane after another).
namespace testj2k {

struct Spec {
    int width = 1;
    int height = 1;
    int components = 1;
    int precision = 8;
    bool isSigned = false;
    bool jp2 = false;   // a JP2 file; otherwise a raw codestream
    int colorSpace = 0; // OpenJPEG colour-space code written in a JP2 file (0 unspecified)
    std::vector<std::int32_t> planes;  // components x width x height
};

// The encoded bytes; empty when the encoder fails.
std::string Encode(const Spec& spec);

}  // namespace testj2k
