#include "panel/PanelRegion.h"

#include <gtest/gtest.h>

#include "panel/SkinPainter.h"

namespace {

bool Covers(const std::vector<os::Rect>& spans, int x, int y) {
    for (const auto& r : spans) {
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    }
    return false;
}

}  // namespace

TEST(RoundRectRegion, ZeroCornersGiveThePlainRectangle) {
    EXPECT_EQ(RoundRectRegion(306, 206, 0, 0), (std::vector<os::Rect>{{0, 0, 306, 206}}));
    EXPECT_TRUE(RoundRectRegion(0, 10, 0, 0).empty());
}

TEST(RoundRectRegion, CornersAreCutAndTheMiddleKept) {
    const auto spans = RoundRectRegion(100, 60, 20, 20);
    EXPECT_FALSE(Covers(spans, 0, 0));
    EXPECT_FALSE(Covers(spans, 99, 59));
    EXPECT_FALSE(Covers(spans, 99, 0));
    EXPECT_TRUE(Covers(spans, 50, 0));
    EXPECT_TRUE(Covers(spans, 0, 30));
    EXPECT_TRUE(Covers(spans, 99, 30));
    EXPECT_TRUE(Covers(spans, 5, 5));
    // Symmetric top to bottom and left to right.
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(Covers(spans, x, y), Covers(spans, 99 - x, 59 - y)) << x << "," << y;
}

TEST(CenterInWorkArea, CentresAndKeepsInside) {
    EXPECT_EQ(CenterInWorkArea(420, 260, {0, 0, 1280, 800}), (os::Rect{430, 270, 850, 530}));
    // A work area that starts below a top bar on a second monitor.
    EXPECT_EQ(CenterInWorkArea(400, 200, {1280, 30, 2560, 1024}), (os::Rect{1720, 427, 2120, 627}));
    // Larger than the area: the top-left corner stays in view.
    EXPECT_EQ(CenterInWorkArea(2000, 900, {0, 0, 1280, 800}), (os::Rect{0, 0, 2000, 900}));
}

// A rounded corner's soft edge: only pixels at least half opaque are inside, so a window drawn
// without a compositor shows no half-blended fringe; right of the image the window is kept.
TEST(SkinShapeRegion, TheEdgeKeepsOnlyHalfOpaquePixels) {
    os::PixelBuffer image;
    image.width = 5;
    image.height = 1;
    image.hasAlpha = true;
    for (uint32_t alpha : {0u, 10u, 127u, 128u, 255u})
        image.pixels.push_back(alpha << 24 | 0x1F574C);
    const auto spans = SkinShapeRegion(&image, BKMODE_ALPHA, 7, 2);
    for (int x = 0; x < 3; ++x) EXPECT_FALSE(Covers(spans, x, 0)) << x;
    for (int x = 3; x < 7; ++x) EXPECT_TRUE(Covers(spans, x, 0)) << x;
    for (int x = 0; x < 7; ++x) EXPECT_TRUE(Covers(spans, x, 1)) << x;  // below the image
}
