#pragma once

#include <cstdint>

#include "platform/Bitmap.h"
#include "platform/imageio/readers/ImageSource.h"

// The geometry of the redraw: canvases, drawing rectangles and the turning matrices, in the
// canvas's own coordinates (pixels, y up, origin at the lower left).

// Where the whole source picture is drawn on the canvas. Larger than the canvas, or with a
// negative origin, it crops the picture.
struct DrawingRect {
    double x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const DrawingRect&, const DrawingRect&) = default;
};

// An affine transform: a point (x, y) goes to (a·x + c·y + tx, b·x + d·y + ty).
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

// The quarter turns (0 to 3, counter-clockwise) that an angle in degrees stands for: the angle
// taken modulo 360, and a turn only at an exact multiple of 90; any other angle turns nothing.
int QuarterTurnsOfAngle(std::int64_t angle);

// The turning and mirroring matrix of a canvas of width × height pixels (before any quarter-turn
// swap) for the flip flags (1 left-right, 2 top-bottom, 3 both) and the angle.
AffineTransform OrientationTransformForImage(std::uint64_t width, std::uint64_t height, std::int32_t flipFlags,
                                             std::int64_t angle);

// The alpha of `image` drawn into `rect` through `transform` on a canvas of width × height: a
// grey bitmap, 255 where the drawn picture is opaque, 0 where it is transparent or absent. An
// empty bitmap when the canvas cannot be had.
platform::Bitmap CreateAlphaMaskForImage(const platform::Bitmap& image, std::uint64_t width, std::uint64_t height,
                                         const AffineTransform& transform, const DrawingRect& rect);

// A length in inches: millimetres and centimetres by their single-precision factors, any other
// unit taken as points.
double LengthToInches(std::int32_t unit, double length);

// Whether a canvas of width × height pixels with `components` samples a pixel may be allocated.
bool CanvasFits(std::uint64_t width, std::uint64_t height, int components);
