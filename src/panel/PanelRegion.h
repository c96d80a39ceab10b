#pragma once
#include <vector>

#include "os/PixelBuffer.h"
#include "os/Rect.h"

// The rounded rectangle (0, 0, width, height) with corner ellipses of cornerWidth x
// cornerHeight, as horizontal spans; corners of 0 give the one plain rectangle.
std::vector<os::Rect> RoundRectRegion(int width, int height, int cornerWidth, int cornerHeight);

// The window rectangle that centres a window on `work`, kept inside it where it fits.
os::Rect CenterInWorkArea(int width, int height, const os::Rect& work);

// The part of a width x height window that a skin drawn in `bkMode` covers, as horizontal
// spans: the image's pixels less than half opaque lie outside it when the mode blends with the
// image's alpha (a window drawn without a compositor has no half-transparent edge, which would
// show the window's light background as a fringe); every other mode (and a missing or opaque
// image) covers the whole window.
std::vector<os::Rect> SkinShapeRegion(const os::PixelBuffer* image, int bkMode, int width,
                                      int height);
