#include "app/InstallCheck.h"
#include "app/ResourceList.h"
#include "os/PixelBuffer.h"
#include "panel/ImageRegistry.h"

#include "ImageFiles.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testsupport;

namespace {

int Channel(uint32_t argb, int shift) {
    return static_cast<int>((argb >> shift) & 0xFF);
}

// Lossy formats may move a channel a little.
void ExpectColourNear(uint32_t actual, uint32_t expected, int tolerance) {
    for (int shift : {24, 16, 8, 0}) {
        EXPECT_LE(std::abs(Channel(actual, shift) - Channel(expected, shift)), tolerance)
            << std::hex << "actual " << actual << " expected " << expected;
    }
}

}  // namespace

TEST(ImageDecode, CommonFormatsKeepSizeColourAndAlphaFlag) {
    TempDir dir;
    struct Case {
        const char* format;
        bool withAlpha;
        uint32_t colour;
        int tolerance;
    };
    const Case cases[] = {
        {"png", false, 0xFF336699, 0},  {"bmp", false, 0xFF102030, 0},
        {"jpeg", false, 0xFF808080, 4}, {"gif", false, 0xFF00FF00, 0},
        {"ico", true, 0xFFC86432, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string path = dir.File(std::string("image.") + c.format);
        WriteSolidImage(path, c.format, 24, 16, c.colour, c.withAlpha);
        const auto image = os::DecodeImageFile(path);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->width, 24);
        EXPECT_EQ(image->height, 16);
        EXPECT_EQ(image->pixels.size(), 24u * 16u);
        ExpectColourNear(image->at(0, 0), c.colour, c.tolerance);
        ExpectColourNear(image->at(23, 15), c.colour, c.tolerance);
    }
    EXPECT_FALSE(os::DecodeImageFile(dir.File("image.png"))->hasAlpha);
    EXPECT_FALSE(os::DecodeImageFile(dir.File("image.jpeg"))->hasAlpha);
    EXPECT_FALSE(os::DecodeImageFile(dir.File("image.bmp"))->hasAlpha);
    EXPECT_TRUE(os::DecodeImageFile(dir.File("image.ico"))->hasAlpha);
}

TEST(ImageDecode, TranslucentPixelsKeepStraightColours) {
    TempDir dir;
    const std::string path = dir.File("glass.png");
    WriteSolidImage(path, "png", 5, 3, 0x80C86432, true);
    const auto image = os::DecodeImageFile(path);
    ASSERT_TRUE(image.has_value());
    EXPECT_TRUE(image->hasAlpha);
    // Premultiplied storage would have halved the colour channels.
    EXPECT_EQ(image->at(4, 2), 0x80C86432u);

    const std::string clear = dir.File("clear.png");
    WriteSolidImage(clear, "png", 2, 2, 0x00FFFFFF, true);
    EXPECT_EQ(os::DecodeImageFile(clear)->at(1, 1), 0x00FFFFFFu);
}

TEST(ImageDecode, FilesThatAreNoImageGiveNothing) {
    TempDir dir;
    EXPECT_FALSE(os::DecodeImageFile(dir.File("missing.png")).has_value());
    WriteFile(dir.File("empty.png"), "");
    EXPECT_FALSE(os::DecodeImageFile(dir.File("empty.png")).has_value());
    WriteFile(dir.File("text.png"), "this is not an image\n");
    EXPECT_FALSE(os::DecodeImageFile(dir.File("text.png")).has_value());
    WriteSolidImage(dir.File("whole.png"), "png", 64, 64, 0xFF000000, false);
    WriteFile(dir.File("cut.png"), ReadFile(dir.File("whole.png")).substr(0, 40));
    EXPECT_FALSE(os::DecodeImageFile(dir.File("cut.png")).has_value());
    EXPECT_FALSE(os::DecodeImageFile(dir.path()).has_value());
}

TEST(ImageRegistry, TheFirstRegistrationOfAKeyWins) {
    TempDir dir;
    WriteSolidImage(dir.File("small.png"), "png", 4, 4, 0xFF0000FF, false);
    WriteSolidImage(dir.File("large.bmp"), "bmp", 9, 7, 0xFFFF0000, false);
    ImageRegistry registry;
    const os::PixelBuffer* first = registry.RegisterImage("2", dir.File("small.png"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(registry.RegisterImage("2", dir.File("large.bmp")), first);
    EXPECT_EQ(registry.RegisterImage("2", dir.File("missing.png")), first);
    EXPECT_EQ(registry.FindImage("2"), first);
    EXPECT_EQ(first->width, 4);
    EXPECT_EQ(first->at(0, 0), 0xFF0000FFu);
}

TEST(ImageRegistry, AFailedLoadLeavesTheKeyFreeForALaterTry) {
    TempDir dir;
    ImageRegistry registry;
    EXPECT_EQ(registry.RegisterImage("2", dir.File("missing.png")), nullptr);
    EXPECT_EQ(registry.FindImage("2"), nullptr);
    WriteFile(dir.File("broken.png"), "not a png");
    EXPECT_EQ(registry.RegisterImage("2", dir.File("broken.png")), nullptr);

    WriteSolidImage(dir.File("good.gif"), "gif", 3, 5, 0xFF00FF00, false);
    const os::PixelBuffer* image = registry.RegisterImage("2", dir.File("good.gif"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->height, 5);
    EXPECT_EQ(registry.FindImage("2"), image);
}

TEST(ImageRegistry, KeysCompareExactly) {
    TempDir dir;
    WriteSolidImage(dir.File("a.png"), "png", 1, 1, 0xFF010101, false);
    WriteSolidImage(dir.File("b.png"), "png", 2, 2, 0xFF020202, false);
    ImageRegistry registry;
    ASSERT_NE(registry.RegisterImage("1", dir.File("a.png")), nullptr);
    ASSERT_NE(registry.RegisterImage("A", dir.File("b.png")), nullptr);
    EXPECT_EQ(registry.FindImage("01"), nullptr);
    EXPECT_EQ(registry.FindImage(" 1"), nullptr);
    EXPECT_EQ(registry.FindImage("a"), nullptr);
    EXPECT_EQ(registry.FindImage(""), nullptr);
    EXPECT_EQ(registry.FindImage("A")->width, 2);

    // "01" is its own key, so registering it loads its own file.
    const os::PixelBuffer* zeroOne = registry.RegisterImage("01", dir.File("b.png"));
    ASSERT_NE(zeroOne, nullptr);
    EXPECT_NE(zeroOne, registry.FindImage("1"));
    ASSERT_NE(registry.RegisterImage("", dir.File("a.png")), nullptr);
    EXPECT_EQ(registry.FindImage("")->width, 1);
}

// Start-up fills the process's registry and the installation check reads that same one.
// (A key no other test of this process uses: registered images are never replaced.)
TEST(ImageRegistry, StartUpRegistersIntoTheRegistryTheInstallCheckReads) {
    TempDir dir;
    WriteSolidImage(dir.File("res/skin/bk.png"), "png", 6, 6, 0xFF123456, false);
    WriteFile(dir.File("res/web/brush.html"), "<html></html>");
    WriteFile(dir.File("cfg.ini"),
              "[resource]\ntotal=9090\n9090=\\res\\skin\\bk.png\n[mainpanel]\nbkimage=9090\n");
    RegisterResourceList(dir.File("cfg.ini"), dir.path());
    const os::PixelBuffer* image = GetImageRegistry().FindImage("9090");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 6);
    EXPECT_TRUE(IsInstallationIntact(dir.File("cfg.ini"), dir.path()));
    EXPECT_FALSE(IsInstallationIntact(dir.File("cfg.ini"), dir.path(), ImageRegistry()));
}
