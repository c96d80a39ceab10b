#include "base/Settings.h"
#include "base/SettingsPlacement.h"
#include "base/SettingsRefresh.h"

#include "ChildRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

}  // namespace

// An installed program run by an ordinary user: its folder cannot be written, so the first
// start seeds a private copy, and later starts keep what the user stored there. A settings
// folder the user has linked into their own files is followed, not refused.
TEST(SettingsPlacement, ReadOnlyInstallationSeedsAPrivateCopyAndKeepsItsValues) {
    if (const std::string why = OrdinaryUserUnavailable(); !why.empty()) GTEST_SKIP() << why;
    TempDir temp;
    chmod(temp.path().c_str(), 0755);
    const std::string module = temp.File("module");
    WriteFile(module + "/cfg.ini", "[resource]\ntotal=1\n1=\\res\\skin\\bk.png\n");
    chmod(module.c_str(), 0555);
    const std::string home = temp.File("home");
    WriteFile(home + "/.keep", "");
    chmod(home.c_str(), 0777);
    const std::string config = home + "/.config";
    const std::string copy = config + "/MapleNook/cfg.ini";

    const auto outcome = RunInChild(
        [&] {
            if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 90;
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            if (PrepareSettingsPath(module) != copy) return 1;
            if (WriteSettingString(copy, "settings", "k", "v") == 0) return 2;
            // The second start finds the copy and does not seed it again.
            if (PrepareSettingsPath(module) != copy) return 3;
            if (ReadSettingString(copy, "settings", "k") != "v") return 4;
            // A settings folder the user links elsewhere is used where it points.
            const std::string linked = home + "/linked";
            if (mkdir((home + "/dotfiles").c_str(), 0755) != 0 ||
                mkdir(linked.c_str(), 0700) != 0 ||
                symlink("../dotfiles", (linked + "/MapleNook").c_str()) != 0) {
                return 5;
            }
            setenv("XDG_CONFIG_HOME", linked.c_str(), 1);
            return PrepareSettingsPath(module) == linked + "/MapleNook/cfg.ini" ? 0 : 6;
        },
        30s);
    chmod(module.c_str(), 0755);
    ASSERT_TRUE(outcome.exited);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(ReadSettingString(copy, "resource", "1"), "\\res\\skin\\bk.png");
    EXPECT_EQ(ModeOf(config), 0700u);
    EXPECT_EQ(ModeOf(config + "/MapleNook"), 0700u);
    EXPECT_EQ(ReadSettingString(home + "/dotfiles/cfg.ini", "resource", "total"), "1");
    EXPECT_EQ(ReadFile(module + "/cfg.ini"), "[resource]\ntotal=1\n1=\\res\\skin\\bk.png\n");
}

// A package upgrade changes the shipped file: the copy takes the new description and keeps
// what was stored in it, including a hand edit of the description.
TEST(SettingsPlacement, ChangedShippedFileIsTakenWithTheUsersValuesKept) {
    TempDir temp;
    const std::string shipped = temp.File("cfg.ini");
    const std::string copy = temp.File("user/cfg.ini");
    const std::string snapshot = temp.File("user/shipped-cfg.ini");
    const std::string v1 =
        "[app]\nwnd=0\ncachedir=\n[resource]\ntotal=1\n1=\\a.png\n"
        "[mainpanel]\ntitle=Old\nx=0\n[settings]\n";
    WriteFile(shipped, v1);
    WriteFile(copy, v1);
    // The first look only records what the copy was made from.
    ASSERT_TRUE(RefreshUserSettings(copy, shipped, snapshot));
    EXPECT_EQ(ReadFile(snapshot), v1);

    WriteSettingString(copy, "app", "cachedir", "/home/u/cache");
    WriteSettingString(copy, "settings", "autoboot", "1");
    WriteSettingString(copy, "mainpanel", "x", "40");
    const std::string v2 =
        "[app]\nwnd=0\ncachedir=\n[resource]\ntotal=2\n1=\\a.png\n2=\\b.png\n"
        "[mainpanel]\ntitle=New\nx=0\n[settings]\n";
    WriteFile(shipped, v2);
    ASSERT_TRUE(RefreshUserSettings(copy, shipped, snapshot));
    EXPECT_EQ(ReadSettingString(copy, "resource", "total"), "2");
    EXPECT_EQ(ReadSettingString(copy, "resource", "2"), "\\b.png");
    EXPECT_EQ(ReadSettingString(copy, "mainpanel", "title"), "New");
    EXPECT_EQ(ReadSettingString(copy, "mainpanel", "x"), "40");
    EXPECT_EQ(ReadSettingString(copy, "app", "cachedir"), "/home/u/cache");
    EXPECT_EQ(ReadSettingString(copy, "settings", "autoboot"), "1");
    EXPECT_EQ(ReadFile(snapshot), v2);

    // Unchanged since: the copy is left alone.
    WriteSettingString(copy, "settings", "k", "v");
    const std::string before = ReadFile(copy);
    ASSERT_TRUE(RefreshUserSettings(copy, shipped, snapshot));
    EXPECT_EQ(ReadFile(copy), before);
}
