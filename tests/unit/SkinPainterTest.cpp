#include "panel/SkinPainter.h"

#include <gtest/gtest.h>

namespace {

os::PixelBuffer Filled(int w, int h, uint32_t argb, bool hasAlpha) {
    os::PixelBuffer b;
    b.width = w;
    b.height = h;
    b.hasAlpha = hasAlpha;
    b.pixels.assign(static_cast<size_t>(w) * h, argb);
    return b;
}

// An image whose every pixel is distinct, so a misplaced copy shows.
os::PixelBuffer Numbered(int w, int h) {
    os::PixelBuffer b = Filled(w, h, 0, false);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.at(x, y) = 0xFF000000u | (y << 8) | x;
    return b;
}

constexpr uint32_t kWindow = 0xFF408040;

}  // namespace

TEST(DrawBkImage, AlphaModeBlendsStraightColoursOverTheWindow) {
    os::PixelBuffer canvas = Filled(3, 2, 0xFF4080FF, false);
    os::PixelBuffer image = Filled(2, 1, 0, true);
    image.at(0, 0) = 0x80643200;  // alpha 128, r 100, g 50, b 0
    image.at(1, 0) = 0x00FFFFFF;  // fully transparent, colours ignored by weight only
    DrawBkImage(canvas, &image, BKMODE_ALPHA, {0, 0, 3, 2});
    // channel = image + window * (255 - alpha) / 255
    EXPECT_EQ(canvas.at(0, 0), 0xFF000000u | (131u << 16) | (113u << 8) | 127u);
    // alpha 0: image + window, saturated at 255
    EXPECT_EQ(canvas.at(1, 0), 0xFFFFFFFFu);
    // outside the image the window keeps its background
    EXPECT_EQ(canvas.at(2, 0), 0xFF4080FFu);
    EXPECT_EQ(canvas.at(0, 1), 0xFF4080FFu);
}

TEST(DrawBkImage, AlphaModeOpaquePixelsAndImagesWithoutAlphaAreCopies) {
    os::PixelBuffer canvas = Filled(2, 2, kWindow, false);
    os::PixelBuffer opaque = Filled(1, 1, 0xFF112233, true);
    DrawBkImage(canvas, &opaque, BKMODE_ALPHA, {0, 0, 2, 2});
    EXPECT_EQ(canvas.at(0, 0), 0xFF112233u);

    // Without an alpha channel the stored alpha byte means nothing: an opaque copy.
    os::PixelBuffer noAlpha = Filled(2, 2, 0x10AABBCC, false);
    DrawBkImage(canvas, &noAlpha, BKMODE_ALPHA, {0, 0, 2, 2});
    for (uint32_t p : canvas.pixels) EXPECT_EQ(p, 0xFFAABBCCu);
}

TEST(DrawBkImage, TileXDrawsOneRowOfFullCopiesAlongTheTop) {
    os::PixelBuffer canvas = Filled(5, 4, kWindow, false);
    const os::PixelBuffer image = Numbered(2, 2);
    DrawBkImage(canvas, &image, BKMODE_TILE_X, {0, 0, 5, 4});
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            const uint32_t want = y < 2 ? image.at(x % 2, y) : kWindow;
            EXPECT_EQ(canvas.at(x, y), want) << x << "," << y;
        }
    }
}

TEST(DrawBkImage, TileYDrawsOneColumnDownTheLeft) {
    os::PixelBuffer canvas = Filled(4, 5, kWindow, false);
    const os::PixelBuffer image = Numbered(2, 2);
    DrawBkImage(canvas, &image, BKMODE_TILE_Y, {0, 0, 4, 5});
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint32_t want = x < 2 ? image.at(x, y % 2) : kWindow;
            EXPECT_EQ(canvas.at(x, y), want) << x << "," << y;
        }
    }
}

TEST(DrawBkImage, CopyModeTakesOnlyPixelsInsideTheImage) {
    // Window larger than the image (as with an outer border): the rest keeps the background.
    os::PixelBuffer canvas = Filled(6, 5, kWindow, false);
    const os::PixelBuffer image = Numbered(4, 3);
    DrawBkImage(canvas, &image, BKMODE_COPY, {0, 0, 6, 5});
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(canvas.at(x, y), (x < 4 && y < 3) ? image.at(x, y) : kWindow);

    // Window smaller than the image: the part under the window, unscaled.
    os::PixelBuffer small = Filled(2, 2, kWindow, false);
    DrawBkImage(small, &image, BKMODE_COPY, {0, 0, 2, 2});
    EXPECT_EQ(small.at(1, 1), image.at(1, 1));
}

TEST(DrawBkImage, OtherModesCopyTheImageUnscaledAtTheCorner) {
    for (int mode : {0, 5, -1, 99}) {
        os::PixelBuffer canvas = Filled(4, 4, kWindow, false);
        os::PixelBuffer image = Numbered(2, 3);
        image.hasAlpha = true;
        image.at(0, 0) = 0x00010203;  // transparent, yet copied: only mode 4 blends
        DrawBkImage(canvas, &image, mode, {0, 0, 4, 4});
        EXPECT_EQ(canvas.at(0, 0), 0xFF010203u) << mode;
        EXPECT_EQ(canvas.at(1, 2), image.at(1, 2)) << mode;
        EXPECT_EQ(canvas.at(2, 0), kWindow) << mode;
        EXPECT_EQ(canvas.at(0, 3), kWindow) << mode;
    }
}

TEST(DrawBkImage, MissingOrBrokenImageDrawsNothing) {
    os::PixelBuffer canvas = Filled(3, 3, kWindow, false);
    DrawBkImage(canvas, nullptr, BKMODE_ALPHA, {0, 0, 3, 3});
    os::PixelBuffer empty;
    DrawBkImage(canvas, &empty, BKMODE_COPY, {0, 0, 3, 3});
    os::PixelBuffer shortPixels = Filled(3, 3, 0xFF000000, false);
    shortPixels.pixels.resize(2);
    DrawBkImage(canvas, &shortPixels, BKMODE_COPY, {0, 0, 3, 3});
    for (uint32_t p : canvas.pixels) EXPECT_EQ(p, kWindow);
}

TEST(PaintSkin, AnyOuterBorderDrawsAOnePixelWhiteFrame) {
    const os::PixelBuffer image = Filled(300, 200, 0xFF102030, false);
    for (int border : {1, 3, 20}) {
        os::PixelBuffer canvas = Filled(306, 206, kWindow, false);
        SkinPaint skin;
        skin.bkImage = &image;
        skin.outBorder = border;
        PaintSkin(canvas, skin);
        for (int x = 0; x < 306; ++x) {
            EXPECT_EQ(canvas.at(x, 0), 0xFFFFFFFFu);
            EXPECT_EQ(canvas.at(x, 205), 0xFFFFFFFFu);
        }
        for (int y = 0; y < 206; ++y) {
            EXPECT_EQ(canvas.at(0, y), 0xFFFFFFFFu);
            EXPECT_EQ(canvas.at(305, y), 0xFFFFFFFFu);
        }
        // One pixel only; the image starts at (0, 0), not inside the border.
        EXPECT_EQ(canvas.at(1, 1), 0xFF102030u) << border;
        EXPECT_EQ(canvas.at(302, 150), kWindow) << border;
    }
}

TEST(PaintSkin, NoOuterBorderNoFrame) {
    os::PixelBuffer canvas = Filled(10, 10, kWindow, false);
    PaintSkin(canvas, SkinPaint{});
    for (uint32_t p : canvas.pixels) EXPECT_EQ(p, kWindow);
}

TEST(PaintSkin, TextRunsOnOneLineAndIsCutAtTheBandEdge) {
    os::PixelBuffer canvas = Filled(60, 40, 0xFF000000, false);
    SkinPaint skin;
    skin.windowText = "a rather long panel title that never wraps";
    skin.headRect = {0, 0, 40, 20};
    PaintSkin(canvas, skin);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 60; ++x) {
            if (x >= 40 || y >= 20) {
                EXPECT_EQ(canvas.at(x, y), 0xFF000000u) << x << "," << y;
            }
        }
    }
}
