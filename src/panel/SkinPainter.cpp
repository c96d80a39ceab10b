#include "panel/SkinPainter.h"

#include "os/TextDraw.h"

#include <algorithm>

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

// Unscaled copy of the image's top-left part onto (dx, dy), clipped to `clip` and the canvas.
void CopyImageAt(os::PixelBuffer& canvas, const os::PixelBuffer& image, int dx, int dy,
                 const os::Rect& clip) {
    const int x0 = std::max({dx, clip.left, 0});
    const int y0 = std::max({dy, clip.top, 0});
    const int x1 = std::min({dx + image.width, clip.right, canvas.width});
    const int y1 = std::min({dy + image.height, clip.bottom, canvas.height});
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) canvas.at(x, y) = image.at(x - dx, y - dy) | kOpaque;
    }
}

uint32_t BlendChannel(uint32_t image, uint32_t window, uint32_t alpha) {
    // Straight colours added to the attenuated window can pass 255; saturate, never wrap.
    return std::min<uint32_t>(255, image + window * (255 - alpha) / 255);
}

void BlendImageAt(os::PixelBuffer& canvas, const os::PixelBuffer& image, int dx, int dy,
                  const os::Rect& clip) {
    const int x1 = std::min({dx + image.width, clip.right, canvas.width});
    const int y1 = std::min({dy + image.height, clip.bottom, canvas.height});
    for (int y = std::max({dy, clip.top, 0}); y < y1; ++y) {
        for (int x = std::max({dx, clip.left, 0}); x < x1; ++x) {
            const uint32_t src = image.at(x - dx, y - dy);
            const uint32_t dst = canvas.at(x, y);
            const uint32_t a = src >> 24;
            const uint32_t dstAlpha = dst >> 24;
            uint32_t out = (a + dstAlpha * (255 - a) / 255) << 24;
            for (int shift = 0; shift <= 16; shift += 8) {
                out |= BlendChannel((src >> shift) & 0xFF, (dst >> shift) & 0xFF, a) << shift;
            }
            canvas.at(x, y) = out;
        }
    }
}

}  // namespace

void DrawBkImage(os::PixelBuffer& canvas, const os::PixelBuffer* image, int mode,
                 const os::Rect& rect) {
    if (image == nullptr || image->empty() ||
        image->pixels.size() < static_cast<size_t>(image->width) * image->height) {
        return;
    }
    const int w = image->width;
    const int h = image->height;
    switch (mode) {
        case BKMODE_TILE_X:
            for (int x = rect.left; x < rect.right; x += w)
                CopyImageAt(canvas, *image, x, rect.top, rect);
            break;
        case BKMODE_TILE_Y:
            for (int y = rect.top; y < rect.bottom; y += h)
                CopyImageAt(canvas, *image, rect.left, y, rect);
            break;
        case BKMODE_COPY:
            // Source and destination are the same rectangle; only pixels inside the image exist,
            // the rest of the window keeps its background.
            CopyImageAt(canvas, *image, 0, 0, rect);
            break;
        case BKMODE_ALPHA:
            if (image->hasAlpha) {
                BlendImageAt(canvas, *image, rect.left, rect.top, rect);
            } else {
                CopyImageAt(canvas, *image, rect.left, rect.top, rect);
            }
            break;
        default:
            CopyImageAt(canvas, *image, rect.left, rect.top, rect);
            break;
    }
}

void FrameRect(os::PixelBuffer& canvas, const os::Rect& rect, uint32_t colour) {
    const os::Rect r{std::max(rect.left, 0), std::max(rect.top, 0),
                     std::min(rect.right, canvas.width), std::min(rect.bottom, canvas.height)};
    if (r.width() <= 0 || r.height() <= 0) return;
    const uint32_t pixel = colour | kOpaque;
    for (int x = r.left; x < r.right; ++x) {
        canvas.at(x, r.top) = pixel;
        canvas.at(x, r.bottom - 1) = pixel;
    }
    for (int y = r.top; y < r.bottom; ++y) {
        canvas.at(r.left, y) = pixel;
        canvas.at(r.right - 1, y) = pixel;
    }
}

bool DrawPanelText(os::PixelBuffer& canvas, const std::string& text, const os::Rect& rect,
                   int pointSize, uint32_t colour) {
    os::TextStyle style;
    style.face = PANEL_FONT_FACE;
    style.pointSize = pointSize;
    style.bold = true;
    style.colour = colour;
    return os::DrawTextLine(canvas, text, rect.left, rect.top, rect.right, rect.bottom, style);
}

void PaintSkin(os::PixelBuffer& canvas, const SkinPaint& skin) {
    if (canvas.empty()) return;
    const int scale = std::max(1, canvas.scale);
    const os::Rect window{0, 0, canvas.width, canvas.height};
    DrawBkImage(canvas, scale > 1 ? skin.scaledImage : skin.bkImage, skin.bkMode, window);
    if (skin.outBorder != 0) {
        for (int i = 0; i < scale; ++i)
            FrameRect(canvas, {i, i, canvas.width - i, canvas.height - i}, 0xFFFFFF);
    }
    if (!skin.windowText.empty()) {
        const os::Rect textRect{(skin.headRect.left + 10) * scale, (skin.headRect.top + 4) * scale,
                                skin.headRect.right * scale, skin.headRect.bottom * scale};
        DrawPanelText(canvas, skin.windowText, textRect, PANEL_TEXT_POINTS * scale,
                      PANEL_TEXT_COLOUR);
    }
}
