#pragma once

#include "platform/Bitmap.h"

// Resampling and exact turning of bitmaps, for the redraw of the image-file path. Both work on
// the bitmap's samples as they are (any model, premultiplied alpha included) and split their work
// by the worker budget (ParallelFor).
namespace platform {

// A rectangle in destination pixels, top-down, fractions allowed.
struct PixelRect {
    double x = 0, y = 0, width = 0, height = 0;
};

// Draws the whole of `source` scaled into `rect` of `dest`, which has the same sample layout
// (model, components, alpha). The destination pixels whose centres lie inside the rectangle (and
// inside `dest`) are written; the others keep what they hold, so a rectangle larger than `dest`
// or with a negative origin crops the picture.
//
// The filter, axis by axis: Lanczos with three lobes (its support widened by the reduction) where
// the axis shrinks, Catmull-Rom bicubic where it grows, a plain copy where it keeps its scale at
// a whole-pixel offset. Weights are cut off at the picture's edges and renormalised; a flat area
// stays exact. Premultiplied colour is kept within its alpha.
//
// False (nothing written) when the layouts differ, a size is not positive, or the rectangle
// covers no destination pixel.
bool DrawScaled(const Bitmap& source, Bitmap& dest, const PixelRect& rect);

// Copies `source` into `dest` (same layout) through a signed permutation of the axes, the exact
// turns and mirrors: destination pixel (i, j) receives source pixel
// (x0 + i·xi + j·xj, y0 + i·yi + j·yj). Each of (xi, yi) and (xj, yj) must be a unit step along
// one axis and every pixel named must lie inside `source`; false otherwise (nothing written).
struct AxisPermutation {
    int x0 = 0, xi = 1, xj = 0;
    int y0 = 0, yi = 0, yj = 1;
};
bool PermutePixels(const Bitmap& source, Bitmap& dest, const AxisPermutation& map);

}  // namespace platform
