#pragma once
#include <cstdint>
#include <string>

#include "os/PixelBuffer.h"

namespace os {

struct TextStyle {
    std::string face;   // family name, resolved by fontconfig (any installed fallback)
    int pointSize = 9;  // converted to pixels at the screen's vertical resolution
    bool bold = false;
    uint32_t colour = 0xFFFFFF;  // 0xRRGGBB
};

// Draws `text` as one line (no wrapping) with its top-left corner at (left, top), clipped to
// the box (left, top)-(right, bottom). False when there is nothing to draw or no font.
bool DrawTextLine(PixelBuffer& canvas, const std::string& text, int left, int top, int right,
                  int bottom, const TextStyle& style);

}  // namespace os
