#include "package/ZipExtract.h"
#include "phone/BridgeCommandText.h"

#include <gtest/gtest.h>

using Commands = std::vector<std::string>;

TEST(BridgeCommandText, QuotesTheExecutableAndKeepsTwoSpaces) {
    EXPECT_EQ(AdbCommandLine("/run/user/1/ice/adb", "install -r \"/a b/x.apk\""),
              "\"/run/user/1/ice/adb\"  install -r \"/a b/x.apk\"");
    EXPECT_TRUE(IsShellCommand("-shell ls;"));
    EXPECT_TRUE(IsShellCommand("x -shellfoo"));
    EXPECT_FALSE(IsShellCommand("shell ls"));
}

TEST(BridgeCommandText, ShellTextIsCutAtEverySemicolonAndTheTailIsDropped) {
    EXPECT_EQ(ShellCommandsOf("-shell ls;"), Commands({"ls"}));
    EXPECT_EQ(ShellCommandsOf("-shell   ls -l /sdcard\n;pm list packages\n;  \r\n"),
              Commands({"ls -l /sdcard\n", "pm list packages\n"}));
    EXPECT_EQ(ShellCommandsOf("-shell a;b;c"), Commands({"a", "b"}));
    EXPECT_EQ(ShellCommandsOf("-shell a;;b;"), Commands({"a", "", "b"}));
    // Text after the first marker only; a later "-shell" is part of a command.
    EXPECT_EQ(ShellCommandsOf("x -shell echo -shell;"), Commands({"echo -shell"}));
}

TEST(BridgeCommandText, ShellTextWithoutSemicolonGivesOneEmptyCommand) {
    EXPECT_EQ(ShellCommandsOf("-shell ls"), Commands({""}));
    EXPECT_EQ(ShellCommandsOf("-shell"), Commands({""}));
    EXPECT_EQ(ShellCommandsOf("-shell ;"), Commands({""}));
}

TEST(BridgeCommandText, ReadingStopsAtBlankLineBlankOutputOrWaitingForDevice) {
    EXPECT_TRUE(OutputEndsRead("List of devices attached\r\n\r\n"));
    EXPECT_TRUE(OutputEndsRead("\r\n"));
    EXPECT_TRUE(OutputEndsRead("\n\n\r"));
    EXPECT_TRUE(OutputEndsRead("* daemon started\n- waiting for device -\n"));
    EXPECT_FALSE(OutputEndsRead("List of devices attached\n\n"));
    EXPECT_FALSE(OutputEndsRead("Performing Streamed Install\r\n"));
    EXPECT_FALSE(OutputEndsRead("x\r\n\r"));
    EXPECT_FALSE(OutputEndsRead("- waiting for device"));
}

TEST(BridgeCommandText, PromptMatchesOnlyAtTheVeryEnd) {
    EXPECT_TRUE(ShowsShellPrompt("shell@android:/ $"));
    EXPECT_TRUE(ShowsShellPrompt("x\r\nroot@android:/ #"));
    EXPECT_TRUE(ShowsShellPrompt("shell@android:/ $ "));
    EXPECT_FALSE(ShowsShellPrompt("shell@android:/ $  "));
    EXPECT_FALSE(ShowsShellPrompt("shell@android:/ $\r\n"));
    EXPECT_FALSE(ShowsShellPrompt("@android:/ %"));
    EXPECT_FALSE(ShowsShellPrompt("$"));
    EXPECT_TRUE(ReadsToEnd("\"/opt/x/zipmodule\" x"));
    EXPECT_FALSE(ReadsToEnd("\"/opt/x/ZipModule\" x"));
}

TEST(ZipEntryNames, SafeNamesAreNormalised) {
    EXPECT_EQ(SafeEntryPath("a/b/c.txt"), "a/b/c.txt");
    EXPECT_EQ(SafeEntryPath("a\\b\\c.exe"), "a/b/c.exe");
    EXPECT_EQ(SafeEntryPath("./a//b/./c"), "a/b/c");
    EXPECT_EQ(SafeEntryPath("dir/"), "dir");
    EXPECT_EQ(SafeEntryPath("..name/x..y"), "..name/x..y");
    EXPECT_EQ(SafeEntryPath("目录/文件.txt"), "目录/文件.txt");
    EXPECT_EQ(SafeEntryPath("./"), "");
}

TEST(ZipEntryNames, NamesLeavingTheDestinationAreRefused) {
    for (const std::string name : {"../evil", "a/../../evil", "a/..", "..\\evil", "a\\..\\..\\evil",
                                   "/etc/passwd", "\\evil", "C:\\evil", "c:evil", "//host/share"}) {
        EXPECT_FALSE(SafeEntryPath(name).has_value()) << name;
    }
    EXPECT_FALSE(SafeEntryPath(std::string("ok\0/../x", 8)).has_value());
}
