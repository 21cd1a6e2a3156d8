#pragma once

#include "engine/ImageConversion.h"
#include "engine/images/ImageRedraw.h"

// Where a watermark's box lands on a canvas of W × H pixels, given its lower-left (x, y) and
// upper-right (x2, y2) corners on a reference canvas of RW × RH: per axis, the box keeps its
// distance to the nearest edge, or its centre's offset from the canvas centre, scaled by
// W ÷ RW (H ÷ RH), while its own size scales by sx (sy); a tie for the nearest gives 0.
WatermarkPoint WatermarkOriginForCanvas(double x, double y, double x2, double y2, double W, double H, double RW,
                                        double RH, double sx, double sy);

// The scale of the watermarks' own sizes on a canvas of W × H: its longer side over 550, in
// single precision.
double WatermarkScaleForCanvas(double W, double H);

// Lays `layer` (the canvas's model with premultiplied alpha) over `canvas` with its top-left
// corner at (left, top), its alpha weighted by `opacity` (0 to 1): source over.
void CompositeLayer(platform::Bitmap& canvas, const platform::Bitmap& layer, int left, int top, double opacity);
