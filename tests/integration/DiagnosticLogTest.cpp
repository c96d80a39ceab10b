// The diagnostic log: where it goes, what a line holds, and its one rotation.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <cstdlib>
#include <string>

#include "ChildRun.h"
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

// The log's path is in a folder of the user's, but whatever sits there is not trusted: a link
// is never followed, a FIFO never waited on, and logged names cannot forge lines.
TEST(DiagnosticLog, PlantedLinksAndFifosAreNotWrittenAndNamesCannotForgeLines) {
    testsupport::TempDir dir;
    const std::string target = dir.File("target.txt");
    testsupport::WriteFile(target, "keep\n");
    const std::string link = dir.File("link.log");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(os::AppendCappedLine(link, "line", 1000));
    EXPECT_EQ(ReadFile(target), "keep\n");

    const std::string fifo = dir.File("fifo.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto outcome = testsupport::RunInChild(
        [&] { return os::AppendCappedLine(fifo, "line", 1000) ? 1 : 0; }, std::chrono::seconds(5));
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << "a FIFO blocked the logger";

    EXPECT_EQ(os::EscapedForLog("tool\n2026-01-01 maplenook: error: forged\x1b[31m\\"),
              "tool\\x0a2026-01-01 maplenook: error: forged\\x1b[31m\\x5c");
    EXPECT_EQ(os::EscapedForLog("工具 ü"), "工具 ü");
}

}  // namespace
