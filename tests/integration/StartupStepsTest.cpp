#include "app/InstallCheck.h"
#include "app/ResourceList.h"
#include "panel/ImageRegistry.h"

#include "ImageFiles.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace testsupport;

namespace {

// A module folder with skin images a.png .. e.png (widths 1..5) and the local page, and a
// registry of its own: the process's keeps what earlier tests registered under the same keys.
struct ModuleFolder {
    TempDir dir;
    ImageRegistry registry;
    ModuleFolder() {
        int width = 1;
        for (const char* name : {"a", "b", "c", "d", "e"}) {
            WriteSolidImage(dir.File(std::string("res/skin/") + name + ".png"), "png", width++, 1,
                            0xFF000000, false);
        }
        WriteFile(dir.File("res/web/brush.html"), "<html></html>");
    }
    std::string cfg() const { return dir.File("cfg.ini"); }
    int WidthOf(const std::string& key) const {
        const os::PixelBuffer* image = registry.FindImage(key);
        return image != nullptr ? image->width : 0;
    }
};

}  // namespace

TEST(ResourceList, RegistersEntriesOneToTotalUnderTheirNumbers) {
    ModuleFolder module;
    WriteFile(module.cfg(),
              "[resource]\n"
              "total=3\n"
              "4=\\res\\skin\\d.png\n"
              "2=\\res\\skin\\b.png\n"
              "1=\\res\\skin\\a.png\n"
              "1=\\res\\skin\\e.png\n"
              "3=\\res\\skin\\c.png\n"
              "03=\\res\\skin\\e.png\n");
    RegisterResourceList(module.cfg(), module.dir.path(), module.registry);
    EXPECT_EQ(module.WidthOf("1"), 1);
    EXPECT_EQ(module.WidthOf("2"), 2);
    EXPECT_EQ(module.WidthOf("3"), 3);
    EXPECT_EQ(module.WidthOf("4"), 0);
    EXPECT_EQ(module.WidthOf("03"), 0);
}

TEST(ResourceList, BadEntriesAndTotalsRegisterNothingForThem) {
    ModuleFolder module;
    WriteFile(module.cfg(),
              "[resource]\n"
              "total=2000000000 (damaged)\n"
              "1=\\res\\skin\\missing.png\n"
              "2=\n"
              "3=\\res\\web\\brush.html\n"
              "4=\\res\\skin\\d.png\n"
              "RESOURCE-NOISE=1\n");
    const auto start = std::chrono::steady_clock::now();
    RegisterResourceList(module.cfg(), module.dir.path(), module.registry);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(module.WidthOf("1"), 0);
    EXPECT_EQ(module.WidthOf("2"), 0);
    EXPECT_EQ(module.WidthOf("3"), 0);
    EXPECT_EQ(module.WidthOf("4"), 4);

    for (const char* total : {"0", "-3", "none"}) {
        ModuleFolder other;
        WriteFile(other.cfg(),
                  std::string("[resource]\ntotal=") + total + "\n5=\\res\\skin\\e.png\n");
        RegisterResourceList(other.cfg(), other.dir.path(), other.registry);
        EXPECT_EQ(other.WidthOf("5"), 0) << total;
    }
}

TEST(InstallCheck, NeedsTheLocalPageAndARegisteredBackground) {
    ModuleFolder module;
    const std::string resources =
        "[resource]\ntotal=2\n1=\\res\\skin\\a.png\n2=\\res\\skin\\gone.png\n";
    WriteFile(module.cfg(), resources + "[mainpanel]\nbkimage=1\n");
    EXPECT_FALSE(IsInstallationIntact(module.cfg(), module.dir.path(),
                                      module.registry));  // nothing registered
    RegisterResourceList(module.cfg(), module.dir.path(), module.registry);
    EXPECT_TRUE(IsInstallationIntact(module.cfg(), module.dir.path(), module.registry));

    WriteFile(module.cfg(), resources + "[mainpanel]\nbkimage=2\n");
    EXPECT_FALSE(IsInstallationIntact(module.cfg(), module.dir.path(), module.registry));
    EXPECT_EQ(MissingInstallationPart(module.cfg(), module.dir.path(), module.registry),
              module.dir.File("res/skin/gone.png"));
    WriteFile(module.cfg(), resources + "[mainpanel]\nbkimage=\n");
    EXPECT_FALSE(IsInstallationIntact(module.cfg(), module.dir.path(), module.registry));
    WriteFile(module.cfg(), resources + "[mainpanel]\nbkimage=01\n");
    EXPECT_FALSE(IsInstallationIntact(module.cfg(), module.dir.path(), module.registry));

    WriteFile(module.cfg(), resources + "[mainpanel]\nbkimage=1\n");
    std::remove(module.dir.File("res/web/brush.html").c_str());
    EXPECT_EQ(MissingInstallationPart(module.cfg(), module.dir.path(), module.registry),
              module.dir.File("res/web/brush.html"));
}
