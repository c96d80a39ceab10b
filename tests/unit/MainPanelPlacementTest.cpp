// Start-up position of the main panel and the cache-defeating main page address.
#include <gtest/gtest.h>

#include "mainpanel/MainPanelPlacement.h"

namespace {

const os::Rect kWork{0, 27, 1280, 800};  // a top bar of 27 pixels

TEST(MainPanelPlacement, OffsetsPlaceTheCornerAndKeepThePanelAbove) {
    auto p = PlaceMainPanel(10, 0, 360, 560, 1280, 800, kWork);
    EXPECT_EQ(p.left, 1280 - 360 - 10);
    EXPECT_EQ(p.top, 800 - 560);
    EXPECT_TRUE(p.topmost);
    p = PlaceMainPanel(0, -5, 360, 560, 1280, 800, kWork);
    EXPECT_EQ(p.top, 800 - 560 + 5);
    EXPECT_TRUE(p.topmost);
}

TEST(MainPanelPlacement, NoOffsetsCentreInTheWorkArea) {
    const auto p = PlaceMainPanel(0, 0, 360, 560, 1280, 800, kWork);
    EXPECT_EQ(p.left, (1280 - 360) / 2);
    EXPECT_EQ(p.top, 27 + (773 - 560) / 2);
    EXPECT_FALSE(p.topmost);
}

TEST(MainPageUrl, LowThirtyTwoBitsAsSignedDecimal) {
    const std::string page = "http://127.0.0.1:17361/Brush.html";
    EXPECT_EQ(MainPageUrlAt(page, 1796630400), page + "?t=1796630400");
    EXPECT_EQ(MainPageUrlAt(page, 0x80000000LL), page + "?t=-2147483648");
    EXPECT_EQ(MainPageUrlAt(page, 0x100000005LL), page + "?t=5");
}

}  // namespace
