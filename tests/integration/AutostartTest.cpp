#include "sysutil/Autostart.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ScopedEnv.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

class AutostartTest : public testing::Test {
  protected:
    void SetUp() override { env_.Set("XDG_CONFIG_HOME", root / "config"); }
    fs::path Entry() const { return root / "config" / "autostart" / "MapleNook.desktop"; }

    testsupport::ScopedEnv env_;
    testsupport::TempDir dir_;
    fs::path root = dir_.path();
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// How a desktop reads the entry back: GLib's key-file parser for the value escapes, then the
// shell-style quoting rules the Exec key uses.
std::vector<std::string> ExecArgvAsADesktopReadsIt(const fs::path& entry) {
    GKeyFile* file = g_key_file_new();
    std::vector<std::string> argv;
    if (g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
        gchar** parsed = nullptr;
        if (exec != nullptr && g_shell_parse_argv(exec, nullptr, &parsed, nullptr)) {
            for (gchar** arg = parsed; *arg != nullptr; ++arg) argv.emplace_back(*arg);
            g_strfreev(parsed);
        }
        g_free(exec);
    }
    g_key_file_free(file);
    return argv;
}

}  // namespace

TEST_F(AutostartTest, EnableWritesTheEntryInANewFolder) {
    EXPECT_TRUE(SetAutostart("/opt/Maple Nook/maplenook", "", "", "MapleNook", true,
                             "/opt/Maple Nook/res/icon.png"));
    EXPECT_EQ(ReadFile(Entry()),
              "[Desktop Entry]\nType=Application\nName=MapleNook\nComment=MapleNook\n"
              "Exec=\"/opt/Maple Nook/maplenook\"\nIcon=/opt/Maple Nook/res/icon.png\n"
              "Terminal=false\n");
}

TEST_F(AutostartTest, ArgumentsAndSpecialCharactersSurviveADesktopsParsing) {
    const std::string target = "/opt/we$ird \"dir\"/back\\slash`/app";
    ASSERT_TRUE(SetAutostart(target, "--flag \"two words\" 100%", "/work dir", "MapleNook", true));
    const std::string text = ReadFile(Entry());
    EXPECT_NE(text.find("\nPath=/work dir\n"), std::string::npos);
    EXPECT_NE(text.find("\"100%%\""), std::string::npos);  // not a field code
    EXPECT_EQ(ExecArgvAsADesktopReadsIt(Entry()),
              (std::vector<std::string>{target, "--flag", "two words", "100%%"}));
}

TEST_F(AutostartTest, EnablingTwiceReplacesTheEntry) {
    EXPECT_TRUE(SetAutostart("/first", "-a", "/wd", "MapleNook", true));
    EXPECT_TRUE(SetAutostart("/second", "", "", "MapleNook", true));
    EXPECT_EQ(ExecArgvAsADesktopReadsIt(Entry()), std::vector<std::string>{"/second"});
    EXPECT_EQ(ReadFile(Entry()).find("Path="), std::string::npos);
    // Only the entry is in the folder: no temporary file left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(Entry().parent_path()), {}), 1);
}

TEST_F(AutostartTest, DisableDeletesAndReportsAMissingEntry) {
    EXPECT_FALSE(SetAutostart("/app", "", "", "MapleNook", false));
    ASSERT_TRUE(SetAutostart("/app", "", "", "MapleNook", true));
    EXPECT_TRUE(SetAutostart("/app", "", "", "MapleNook", false));
    EXPECT_FALSE(fs::exists(Entry()));
    EXPECT_FALSE(SetAutostart("/app", "", "", "MapleNook", false));
}

TEST_F(AutostartTest, DefaultsToHomeConfigAndRejectsBadNames) {
    env_.Unset("XDG_CONFIG_HOME");
    env_.Set("HOME", root);
    EXPECT_TRUE(SetAutostart("/app", "", "", "MapleNook", true));
    EXPECT_TRUE(fs::exists(root / ".config" / "autostart" / "MapleNook.desktop"));
    EXPECT_FALSE(SetAutostart("/app", "", "", "../escape", true));
    EXPECT_FALSE(SetAutostart("/app", "", "", "", true));
    EXPECT_FALSE(SetAutostart("", "", "", "Other", true));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / ".config" / "autostart"), {}), 1);
}
