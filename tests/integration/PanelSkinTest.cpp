#include "FakeWindow.h"
#include "ImageFiles.h"
#include "TempDir.h"
#include "panel/DPanel.h"
#include "panel/ImageRegistry.h"
#include "panel/SkinPainter.h"

#include <gtest/gtest.h>

// A panel's skin read from a real image file, decoded by the OS layer, and its title drawn
// with the system's fonts.
namespace {

testsupport::TempDir& Folder() {
    static testsupport::TempDir folder;
    return folder;
}

std::string WriteCfg(const std::string& name, const std::string& text) {
    const std::string path = Folder().File("panel-" + name + ".ini");
    testsupport::WriteFile(path, text);
    return path;
}

// A skin image registered under a key no other test uses.
std::string RegisterImage(const std::string& name, int w, int h) {
    const std::string path = WriteCfg(name, "") + ".png";
    testsupport::WriteSolidImage(path, "png", w, h, 0xFF000000u, true);
    const std::string key = "description-test-" + name;
    if (GetImageRegistry().RegisterImage(key, path) == nullptr) return {};
    return key;
}

}  // namespace

TEST(CDPanel, LoadConfigSizesTheWindowFromTheImageAndLaysOutTheBands) {
    const std::string image = RegisterImage("main", 300, 200);
    ASSERT_FALSE(image.empty());
    const auto cfg = WriteCfg("main", "[mainpanel]\ntitle=Nook\nbkimage=" + image +
                                          "\nheadheight=32\nfootheight=10\ninnerborder=5\n"
                                          "outborder=3\n");
    testsupport::FakeWindow window;
    window.rect = {40, 50, 240, 150};
    CDPanel skin("mainpanel", cfg);
    skin.Attach(&window);
    // Before the description is read the bands use the built-in heights.
    skin.CalcLayout();
    EXPECT_EQ(skin.HeadRect(), (os::Rect{0, 0, 200, 50}));
    EXPECT_EQ(skin.FootRect(), (os::Rect{0, 70, 200, 100}));

    skin.LoadConfig();
    EXPECT_EQ(window.title, "Nook");
    EXPECT_EQ(window.rect, (os::Rect{40, 50, 346, 256})) << "resized where it stands";
    EXPECT_EQ(skin.BkImage(), GetImageRegistry().FindImage(image));
    EXPECT_EQ(skin.HeadRect(), (os::Rect{0, 0, 306, 32}));
    EXPECT_EQ(skin.BodyRect(), (os::Rect{5, 32, 296, 196}));
    EXPECT_EQ(skin.FootRect(), (os::Rect{0, 196, 306, 206}));
}

TEST(PaintSkin, WindowTextIsDrawnWhiteInsideTheHeadBandOnly) {
    os::PixelBuffer canvas;
    canvas.width = 200;
    canvas.height = 60;
    canvas.pixels.assign(200 * 60, 0xFF000000u);
    SkinPaint skin;
    skin.windowText = "MapleNook 宋体";
    skin.headRect = {0, 0, 200, 30};
    PaintSkin(canvas, skin);
    int bright = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 200; ++x) {
            const uint32_t p = canvas.at(x, y);
            const bool lit = (p & 0xFFFFFF) != 0;
            if (!lit) continue;
            ++bright;
            // Text starts at (head.left + 10, head.top + 4) and is clipped to the band.
            EXPECT_GE(x, 10);
            EXPECT_GE(y, 4);
            EXPECT_LT(y, 30);
            // White text: grey levels only, whatever the antialiasing.
            EXPECT_EQ((p >> 16) & 0xFF, p & 0xFF);
        }
    }
    // 9-point bold text at 96 dpi is 12 pixels high: plenty of lit pixels, on one line.
    EXPECT_GT(bright, 100);
    int lowest = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x)
            if ((canvas.at(x, y) & 0xFFFFFF) != 0) lowest = y;
    EXPECT_LE(lowest, 4 + 16);
}
