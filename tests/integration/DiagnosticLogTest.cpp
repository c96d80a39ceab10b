// The diagnostic log: where it goes, what a line holds, and its one rotation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TempDir.h"
#include "os/DiagnosticLog.h"

namespace {

using testsupport::ReadFile;

TEST(DiagnosticLog, FailureLineGoesToTheStateFolder) {
    testsupport::TempDir state;
    ASSERT_EQ(setenv("XDG_STATE_HOME", state.path().c_str(), 1), 0);
    EXPECT_EQ(os::DiagnosticLogPath(), state.File("MapleNook/maplenook.log"));
    os::LogFailure("download failed", "http://127.0.0.1:1/p/tool.zip -> /c/tool.zip");
    const std::string text = ReadFile(os::DiagnosticLogPath());
    EXPECT_NE(text.find(" maplenook: error: download failed: http://127.0.0.1:1/p/tool.zip -> "
                        "/c/tool.zip\n"),
              std::string::npos)
        << text;
    ASSERT_EQ(setenv("XDG_STATE_HOME", "relative/is/ignored", 1), 0);
    EXPECT_NE(os::DiagnosticLogPath(), "relative/is/ignored/MapleNook/maplenook.log");
}

TEST(DiagnosticLog, FileIsCappedWithOneRotation) {
    testsupport::TempDir dir;
    const std::string log = dir.File("logs/m.log");
    const std::string line(30, 'x');  // 31 bytes with its newline
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(os::AppendCappedLine(log, line, 100));
    EXPECT_EQ(ReadFile(log).size(), 93u);
    ASSERT_TRUE(os::AppendCappedLine(log, "the fourth", 100));  // 104 bytes would pass
    EXPECT_EQ(ReadFile(log), "the fourth\n");
    EXPECT_EQ(ReadFile(log + ".1").size(), 93u);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(os::AppendCappedLine(log, line, 100));
    EXPECT_EQ(ReadFile(log + ".1").substr(0, 11), "the fourth\n")
        << "the older rotation is replaced";
    EXPECT_LE(ReadFile(log).size(), 100u);
}

}  // namespace
