#include "base/SettingsPlacement.h"
#include "base/SystemLauncher.h"
#include "os/InstallFacts.h"
#include "phone/ToolSources.h"

#include <gtest/gtest.h>

namespace {

SettingsFacts Facts(bool writable, bool systemInstallation, bool userCopyExists,
                    const std::string& config = "/home/u/.config") {
    return {.moduleDirectory = systemInstallation ? "/usr/lib/maplenook" : "/opt/nook",
            .moduleDirectoryWritable = writable,
            .systemInstallation = systemInstallation,
            .userConfigDirectory = config,
            .userCopyExists = userCopyExists};
}

}  // namespace

TEST(SettingsPlacement, WritablePortableFolderKeepsTheFileBesideTheProgram) {
    // A per-user copy left from an installed run does not take over a portable folder.
    const SettingsPlacement p = ChooseSettingsPlacement(Facts(true, false, true));
    EXPECT_EQ(p.settingsPath, "/opt/nook/cfg.ini");
    EXPECT_EQ(p.userFolder, "");
    EXPECT_EQ(p.seedFrom, "");
}

TEST(SettingsPlacement, ReadOnlyModuleFolderSeedsAPerUserCopyOnceAndThenUsesIt) {
    const SettingsPlacement first = ChooseSettingsPlacement(Facts(false, false, false));
    EXPECT_EQ(first.settingsPath, "/home/u/.config/MapleNook/cfg.ini");
    EXPECT_EQ(first.userFolder, "/home/u/.config/MapleNook");
    EXPECT_EQ(first.seedFrom, "/opt/nook/cfg.ini");

    const SettingsPlacement later = ChooseSettingsPlacement(Facts(false, false, true));
    EXPECT_EQ(later.settingsPath, first.settingsPath);
    EXPECT_EQ(later.userFolder, first.userFolder);
    EXPECT_EQ(later.seedFrom, "") << "an existing copy holds the user's values";

    // Root may write the package's folder, but the package's file stays as shipped.
    const SettingsPlacement root = ChooseSettingsPlacement(Facts(true, true, false, "/root/.c"));
    EXPECT_EQ(root.settingsPath, "/root/.c/MapleNook/cfg.ini");
    EXPECT_EQ(root.seedFrom, "/usr/lib/maplenook/cfg.ini");

    // With no home there is nowhere else: the shipped file is read as it is.
    const SettingsPlacement homeless = ChooseSettingsPlacement(Facts(false, true, false, ""));
    EXPECT_EQ(homeless.settingsPath, "/usr/lib/maplenook/cfg.ini");
    EXPECT_EQ(homeless.userFolder, "");
}

TEST(InstallPlaces, ToolsAndLauncherFollowTheInstallation) {
    EXPECT_EQ(ToolSourceFolder("/opt/nook", true), "/opt/nook/adb/");
    EXPECT_EQ(ToolSourceFolder("/usr/lib/maplenook", false), os::SystemProgramFolder());

    const std::string exe = "/usr/lib/maplenook/maplenook";
    EXPECT_EQ(SystemLauncherFor(exe, "/usr/bin/maplenook", exe), "/usr/bin/maplenook");
    // A launcher of another installation, or none, is not this program's.
    EXPECT_EQ(SystemLauncherFor("/opt/nook/maplenook", "/usr/bin/maplenook", exe), "");
    EXPECT_EQ(SystemLauncherFor("/opt/nook/maplenook", "/usr/bin/maplenook", ""), "");
}
