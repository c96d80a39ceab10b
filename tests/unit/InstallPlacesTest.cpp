#include "app/SettingsPlacement.h"
#include "phone/ToolSources.h"
#include "sysutil/Autostart.h"

#include <gtest/gtest.h>

TEST(SettingsPlacement, WritableModuleFolderKeepsTheFileBesideTheProgram) {
    // A per-user copy left from an installed run does not take over a portable folder.
    const SettingsPlacement p =
        ChooseSettingsPlacement({"/opt/nook", true, "/home/u/.config", true});
    EXPECT_EQ(p.settingsPath, "/opt/nook/cfg.ini");
    EXPECT_EQ(p.userFolder, "");
    EXPECT_EQ(p.seedFrom, "");
}

TEST(SettingsPlacement, ReadOnlyModuleFolderSeedsAPerUserCopyOnceAndThenUsesIt) {
    const SettingsPlacement first =
        ChooseSettingsPlacement({"/usr/lib/maplenook", false, "/home/u/.config", false});
    EXPECT_EQ(first.settingsPath, "/home/u/.config/MapleNook/cfg.ini");
    EXPECT_EQ(first.userFolder, "/home/u/.config/MapleNook");
    EXPECT_EQ(first.seedFrom, "/usr/lib/maplenook/cfg.ini");

    const SettingsPlacement later =
        ChooseSettingsPlacement({"/usr/lib/maplenook", false, "/home/u/.config", true});
    EXPECT_EQ(later.settingsPath, first.settingsPath);
    EXPECT_EQ(later.userFolder, first.userFolder);
    EXPECT_EQ(later.seedFrom, "") << "an existing copy holds the user's values";

    // With no home there is nowhere else: the shipped file is read as it is.
    const SettingsPlacement homeless =
        ChooseSettingsPlacement({"/usr/lib/maplenook", false, "", false});
    EXPECT_EQ(homeless.settingsPath, "/usr/lib/maplenook/cfg.ini");
    EXPECT_EQ(homeless.userFolder, "");
}

TEST(InstallPlaces, ToolsAndAutostartFollowTheInstallation) {
    EXPECT_EQ(ToolSourceFolder("/opt/nook", true), "/opt/nook/adb/");
    EXPECT_EQ(ToolSourceFolder("/usr/lib/maplenook", false), "/usr/bin/");

    const std::string exe = "/usr/lib/maplenook/maplenook";
    EXPECT_EQ(AutostartTargetFor(exe, "/usr/bin/maplenook", exe), "/usr/bin/maplenook");
    // A launcher of another installation, or none, must not be started instead of this one.
    EXPECT_EQ(AutostartTargetFor("/opt/nook/maplenook", "/usr/bin/maplenook", exe),
              "/opt/nook/maplenook");
    EXPECT_EQ(AutostartTargetFor("/opt/nook/maplenook", "/usr/bin/maplenook", ""),
              "/opt/nook/maplenook");
}
