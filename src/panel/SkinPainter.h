#pragma once
#include <cstdint>
#include <string>

#include "os/PixelBuffer.h"
#include "os/Rect.h"

enum : int {
    BKMODE_TILE_X = 1,
    BKMODE_TILE_Y = 2,
    BKMODE_COPY = 3,
    BKMODE_ALPHA = 4,
};

inline constexpr const char* PANEL_FONT_FACE = "宋体";
inline constexpr int PANEL_TEXT_POINTS = 9;
inline constexpr uint32_t PANEL_TEXT_COLOUR = 0xFFFFFF;

// Draws `image` into `rect` of the window canvas in background mode `mode`:
// 1 one row of unscaled copies along the top, 2 one column down the left, 3 the part of the
// image under the rectangle, 4 the image blended with its own alpha, anything else the image
// unscaled at the top-left. A null or empty image draws nothing. Copies are opaque; the blend
// keeps the canvas's transparency where the image is transparent (a window with an alpha
// channel), and is opaque over an opaque canvas.
void DrawBkImage(os::PixelBuffer& canvas, const os::PixelBuffer* image, int mode,
                 const os::Rect& rect);

// One-pixel frame along the inside of `rect` in 0xRRGGBB `colour`.
void FrameRect(os::PixelBuffer& canvas, const os::Rect& rect, uint32_t colour);

// The panel's text: 9-point bold white "宋体", one line, from 10 pixels right and 4 pixels
// down of the head band's corner. False when nothing was drawn.
bool DrawPanelText(os::PixelBuffer& canvas, const std::string& text, const os::Rect& rect,
                   int pointSize, uint32_t colour);

struct SkinPaint {
    const os::PixelBuffer* bkImage = nullptr;
    // The image for a canvas whose scale is above 1, drawn instead of bkImage; none: no image.
    const os::PixelBuffer* scaledImage = nullptr;
    int bkMode = BKMODE_ALPHA;
    int outBorder = 0;
    std::string windowText;
    os::Rect headRect;
};

// Paints a panel's skin over the window canvas (which holds the window background): the
// image, a white frame when there is an outer border, the window text in the head band.
// Where the image does not reach the canvas keeps what it had. A canvas at a scale above 1
// gets the scaled image and text, with the bands' coordinates scaled.
void PaintSkin(os::PixelBuffer& canvas, const SkinPaint& skin);
