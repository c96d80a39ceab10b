#pragma once
#include <vector>

#include "panel/PanelRect.h"

// The rounded rectangle (0, 0, width, height) with corner ellipses of cornerWidth x
// cornerHeight, as horizontal spans; corners of 0 give the one plain rectangle.
std::vector<PanelRect> RoundRectRegion(int width, int height, int cornerWidth, int cornerHeight);

// The window rectangle that centres a window on `work`, kept inside it where it fits.
PanelRect CenterInWorkArea(int width, int height, const PanelRect& work);
