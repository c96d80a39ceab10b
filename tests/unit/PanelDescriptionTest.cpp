#include "FakeWindow.h"
#include "base/Settings.h"
#include "panel/DPanel.h"
#include "panel/ImageRegistry.h"
#include "panel/PanelDescription.h"
#include "panel/PanelLayout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::string WriteCfg(const std::string& name, const std::string& text) {
    const auto path =
        std::filesystem::path(testing::TempDir()) /
        ("panel-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" + name +
         ".ini");
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

os::PixelBuffer Image(int w, int h) {
    os::PixelBuffer b;
    b.width = w;
    b.height = h;
    b.hasAlpha = true;
    b.pixels.assign(static_cast<size_t>(w) * h, 0xFF000000u);
    return b;
}

}  // namespace

TEST(ReadPanelDescription, ReadsEveryKeyOfTheSection) {
    const auto cfg = WriteCfg("all",
                              "[MainPanel]\ntitle=Nook\nbkimage=3\nwidth=360\nheight=560\n"
                              "headheight=32\nfootheight=12\ninnerborder=5\noutborder=2\n"
                              "bkmode=1\n");
    const PanelDescription d = ReadPanelDescription(cfg, "mainpanel");
    EXPECT_EQ(d.title, "Nook");
    EXPECT_EQ(d.bkImage, "3");
    EXPECT_EQ(d.width, 360);
    EXPECT_EQ(d.height, 560);
    EXPECT_EQ(d.headHeight, 32);
    EXPECT_EQ(d.footHeight, 12);
    EXPECT_EQ(d.innerBorder, 5);
    EXPECT_EQ(d.outBorder, 2);
    EXPECT_EQ(d.bkMode, 1);
}

TEST(ReadPanelDescription, MissingKeysSectionOrFileGiveDefaults) {
    const auto cfg = WriteCfg("sparse", "[plash]\nbkmode=0\nheadheight=abc\n[other]\nwidth=9\n");
    for (const auto& [file, section] :
         {std::pair{cfg, std::string("plash")}, std::pair{cfg, std::string("nosuch")},
          std::pair{cfg + ".missing", std::string("plash")}}) {
        const PanelDescription d = ReadPanelDescription(file, section);
        EXPECT_EQ(d.title, "");
        EXPECT_EQ(d.bkImage, "");
        EXPECT_EQ(d.width, 0);
        EXPECT_EQ(d.headHeight, 0);
        EXPECT_EQ(d.outBorder, 0);
        EXPECT_EQ(d.bkMode, 4) << "a stored 0 reads as 4";
    }
}

TEST(PanelWindowSize, ImageInModesAboveTwoDecidesWithOuterBorderMargins) {
    const os::PixelBuffer image = Image(300, 200);
    PanelDescription d;
    d.outBorder = 3;
    d.bkMode = 4;
    d.width = 100;
    d.height = 50;  // overridden by the image
    EXPECT_EQ(PanelWindowSize(d, {10, 10}, &image), (PanelSize{306, 206}));
    d.bkMode = 5;
    EXPECT_EQ(PanelWindowSize(d, {10, 10}, &image), (PanelSize{306, 206}));
    d.bkMode = 3;
    d.outBorder = 0;
    EXPECT_EQ(PanelWindowSize(d, {10, 10}, &image), (PanelSize{300, 200}));
    for (int mode : {1, 2, -1}) {
        d.bkMode = mode;
        EXPECT_EQ(PanelWindowSize(d, {10, 10}, &image), (PanelSize{100, 50})) << mode;
    }
}

TEST(PanelWindowSize, WidthAndHeightOnlyTogether) {
    PanelDescription d;
    d.width = 400;
    EXPECT_EQ(PanelWindowSize(d, {274, 270}, nullptr), (PanelSize{274, 270}));
    d.width = 0;
    d.height = 300;
    EXPECT_EQ(PanelWindowSize(d, {274, 270}, nullptr), (PanelSize{274, 270}));
    d.width = 400;
    EXPECT_EQ(PanelWindowSize(d, {274, 270}, nullptr), (PanelSize{400, 300}));
}

TEST(CalcPanelBands, BodyInsetLeftOnceRightTwice) {
    const PanelBands b = CalcPanelBands({0, 0, 300, 400}, 32, 20, 5);
    EXPECT_EQ(b.head, (os::Rect{0, 0, 300, 32}));
    EXPECT_EQ(b.body, (os::Rect{5, 32, 290, 380}));
    EXPECT_EQ(b.foot, (os::Rect{0, 380, 300, 400}));
    const PanelBands whole = CalcPanelBands({0, 0, 300, 400}, 0, 0, 0);
    EXPECT_EQ(whole.body, (os::Rect{0, 0, 300, 400}));
}

TEST(CDPanel, UnregisteredImageEmptyTitleAndNewPath) {
    const auto first = WriteCfg("first", "[poppanel]\nbkimage=nosuchkey\nwidth=400\n");
    const auto second =
        WriteCfg("second", "[poppanel]\nbkimage=nosuchkey\nwidth=320\nheight=240\n");
    testsupport::FakeWindow window;
    window.title = "product name";
    window.rect = {0, 0, 200, 100};
    CDPanel skin("poppanel", first);
    skin.Attach(&window);
    skin.LoadConfig();
    EXPECT_EQ(skin.BkImage(), nullptr);
    EXPECT_EQ(window.title, "product name") << "an empty title keeps the window text";
    EXPECT_EQ(window.rect, (os::Rect{0, 0, 200, 100})) << "width without height keeps the size";
    EXPECT_EQ(skin.BkMode(), 4);

    skin.LoadConfig(second);
    EXPECT_EQ(skin.ConfigFile(), second);
    EXPECT_EQ(window.rect, (os::Rect{0, 0, 320, 240}));

    // Nothing to draw but the kept window text.
    os::PixelBuffer canvas = Image(320, 240);
    window.title.clear();
    skin.PaintSkin(canvas);
    for (uint32_t p : canvas.pixels) EXPECT_EQ(p, 0xFF000000u);
}
