#pragma once

// libjpeg's quality scale from a quality of 0 to 1: times 100 in single precision, truncated
// (0.8 gives 80, 0.53 gives 52). Any value beyond the range is kept to it, and one that is no
// number at all counts as the lowest.
namespace platform {

inline int JpegQualityPercent(double quality) {
    if (!(quality > 0)) return 0;
    if (quality >= 1) return 100;
    return static_cast<int>(static_cast<float>(quality) * 100.0f);
}

}  // namespace platform
