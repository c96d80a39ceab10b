#include "os/ChildProcess.h"
#include "phone/ModuleLib.h"

#include "ScopedEnv.h"
#include "ScratchFolder.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// A tool that writes its pid first, so a test can tell whether it was ended.
std::string WriteTool(const ScratchFolder& dir, const std::string& name, const std::string& body) {
    const std::string path = dir / name;
    WriteFile(path, "#!/bin/sh\necho $$ > '" + path + ".pid'\n" + body + "\n", 0755);
    return path;
}

long PidOf(const std::string& tool) {
    std::ifstream in(tool + ".pid");
    long pid = -1;
    in >> pid;
    return pid;
}

bool ProcessGone(long pid) {
    return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A module directory whose adb is `adbScript`, set up through Init in a private runtime folder.
struct FakeBridge {
    testsupport::ScopedEnv env;
    ScratchFolder dir;
    CModuleLib lib;
    bool ready = false;

    explicit FakeBridge(const std::string& adbScript) {
        const std::string runtime = dir / "run";
        mkdir(runtime.c_str(), 0700);
        env.Set("XDG_RUNTIME_DIR", runtime);
        WriteFile(dir / "module/adb/adb", adbScript, 0755);
        WriteFile(dir / "module/adb/aapt", "aapt", 0755);
        WriteFile(dir / "module/adb/fastboot", "fastboot", 0755);
        ready = lib.Init(dir / "module") && lib.adbPath() == lib.toolDir() + "adb";
    }
    std::string Log() const { return ReadFile(dir / "session.log"); }
};

// An "adb shell" that shows a prompt, answers each piece of input with "ran:<piece>" and a new
// prompt, logs every piece it receives (hex, one a line) and ends on "exit\r\n".
std::string FakeShellAdb(const std::string& logPath, const std::string& prompt) {
    return "#!/usr/bin/python3\n"
           "import os, sys\n"
           "if sys.argv[1:] != ['shell']:\n"
           "    os.write(1, b'unexpected arguments'); sys.exit(1)\n"
           "log = open('" +
           logPath +
           "', 'a')\n"
           "os.write(1, b'" +
           prompt +
           "')\n"
           "while True:\n"
           "    data = os.read(0, 4096)\n"
           "    if not data: break\n"
           "    log.write(data.hex() + '\\n'); log.flush()\n"
           "    if data == b'exit\\r\\n': break\n"
           "    os.write(1, b'\\r\\nran:' + data + b'\\r\\n" +
           prompt + "')\n";
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex + "\n";
}

}  // namespace

TEST(RunCommand, WaitingForDeviceReturnsWithTheTextAndEndsTheTool) {
    ScratchFolder dir;
    const auto tool =
        WriteTool(dir, "adb", "printf -- '- waiting for device -\\n'\nexec sleep 600");
    CModuleLib lib;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lib.RunCommand(Quoted(tool) + "  wait-for-device"), "- waiting for device -\n");
    // Far below the silence limit: the text itself ended the read, not a timeout.
    EXPECT_LT(SecondsSince(start), 60.0);
    EXPECT_TRUE(ProcessGone(PidOf(tool)));
}

TEST(RunCommand, BlankLineEndsReadingWhileTheToolGoesOnWriting) {
    ScratchFolder dir;
    const auto tool = WriteTool(dir, "chatty", "printf 'head\\r\\n\\r\\n'\nexec yes");
    CModuleLib lib;
    const std::string output = lib.RunCommand(Quoted(tool));
    EXPECT_EQ(output.rfind("head\r\n\r\ny\ny\n", 0), 0u) << output.substr(0, 40);
    EXPECT_LE(output.size(), 255u);
    EXPECT_TRUE(ProcessGone(PidOf(tool)));
}

TEST(RunCommand, OutputOfOnlyLineBreaksEndsReading) {
    ScratchFolder dir;
    const auto tool = WriteTool(dir, "blank", "printf '\\r\\n'\nexec sleep 600");
    CModuleLib lib;
    EXPECT_EQ(lib.RunCommand(Quoted(tool)), "\r\n");
    EXPECT_TRUE(ProcessGone(PidOf(tool)));
}

TEST(RunCommand, SilentToolThatNeverEndsIsGivenUpAfterTheSilenceLimit) {
    ScratchFolder dir;
    const auto silent = WriteTool(dir, "silent", "exec sleep 600");
    const auto partial =
        WriteTool(dir, "partial", "printf 'Performing Streamed Install'\nexec sleep 600");
    CModuleLib lib;
    lib.SetSilenceLimit(300ms);
    EXPECT_EQ(lib.RunCommand(Quoted(silent)), "");
    EXPECT_TRUE(ProcessGone(PidOf(silent)));
    EXPECT_EQ(lib.RunCommand(Quoted(partial)), "Performing Streamed Install");
    EXPECT_TRUE(ProcessGone(PidOf(partial)));
}

TEST(RunCommand, LongOutputIsGatheredPieceByPieceUntilTheToolEnds) {
    ScratchFolder dir;
    const auto tool =
        WriteTool(dir, "long", "i=0\nwhile [ $i -lt 400 ]; do echo \"line $i\"; i=$((i+1)); done");
    std::string expected;
    for (int i = 0; i < 400; ++i) expected += "line " + std::to_string(i) + "\n";
    CModuleLib lib;
    EXPECT_EQ(lib.RunCommand(Quoted(tool)), expected);
}

TEST(RunCommand, ZipHelperIsReadToTheEndPastTheStopTexts) {
    ScratchFolder dir;
    const std::string body =
        "printf 'a\\r\\n\\r\\n'\ni=0\nwhile [ $i -lt 100 ]; do printf 'xxxxxxxxxx'; i=$((i+1)); "
        "done";
    const auto helper = WriteTool(dir, "zipmodule", body);
    const auto other = WriteTool(dir, "otherhelper", body);
    const std::string all = "a\r\n\r\n" + std::string(1000, 'x');
    CModuleLib lib;
    EXPECT_EQ(lib.RunCommand(Quoted(helper) + " x"), all);
    const std::string cut = lib.RunCommand(Quoted(other) + " x");
    EXPECT_EQ(cut, all.substr(0, 255));
}

TEST(RunCommand, CapturesStandardErrorAndGivesAnEmptyInput) {
    ScratchFolder dir;
    const auto tool = WriteTool(dir, "both", "printf out\nprintf err >&2\ncat\nprintf end");
    CModuleLib lib;
    EXPECT_EQ(lib.RunCommand(Quoted(tool)), "outerrend");
}

TEST(RunCommand, QuotedArgumentsArriveWholeAndNoShellIsInvolved) {
    ScratchFolder dir;
    const auto tool =
        WriteTool(dir, "with space/args", "for a in \"$@\"; do printf '[%s]' \"$a\"; done");
    CModuleLib lib;
    EXPECT_EQ(lib.RunCommand(Quoted(tool) + "  a \"b c\" \"\" $HOME;x `id` |y"),
              "[a][b c][][$HOME;x][`id`][|y]");
}

TEST(RunCommand, MissingProgramGivesAnEmptyText) {
    CModuleLib lib;
    EXPECT_EQ(lib.RunCommand("\"/nonexistent/maplenook/adb\"  devices"), "");
    EXPECT_EQ(lib.RunCommand(""), "");
}

TEST(RunCommand, OutputBecomesValidUtf8) {
    ScratchFolder dir;
    const auto tool = WriteTool(dir, "bytes", "printf '\\344\\270\\255\\377ok'");
    CModuleLib lib;
    EXPECT_EQ(lib.RunCommand(Quoted(tool)), "中\xEF\xBF\xBDok");
}

TEST(ChildProcess, WritingToAToolThatHasEndedFailsWithoutSigpipe) {
    os::ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "exit 0"}, os::ChildProcess::Input::Channel));
    ASSERT_TRUE(child.WaitForExit(10000));
    EXPECT_FALSE(child.WriteInput(std::string(100000, 'x')));
    child.Terminate();
    EXPECT_FALSE(child.WriteInput("x"));
}

TEST(RunAdb, CommandFollowsTheQuotedAdbPath) {
    FakeBridge bridge("#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done\n");
    if (!bridge.ready) GTEST_SKIP() << "another bridge server owns port 5037";
    EXPECT_EQ(bridge.lib.RunAdb("install -r \"/tmp/my files/phone.apk\""),
              "[install][-r][/tmp/my files/phone.apk]");
}

TEST(RunAdb, RealAdbVersionMatchesRunningItDirectly) {
    ScratchFolder dir;
    const std::string runtime = dir / "run";
    mkdir(runtime.c_str(), 0700);
    testsupport::ScopedEnv env;
    env.Set("XDG_RUNTIME_DIR", runtime);
    for (const char* tool : {"adb", "aapt", "fastboot"}) {
        ASSERT_EQ(std::system(("mkdir -p " + ShellQuote(dir / "module/adb") +
                               " && cp -L /usr/bin/" + tool + " " + ShellQuote(dir / "module/adb/"))
                                  .c_str()),
                  0);
    }
    CModuleLib lib;
    ASSERT_TRUE(lib.Init(dir / "module"));
    const std::string output = lib.RunAdb("version");
    EXPECT_NE(output.find("Android Debug Bridge version"), std::string::npos) << output;
    EXPECT_EQ(output, ShellOutput(ShellQuote(lib.adbPath()) + " version 2>&1"));
}

TEST(RunShellSession, EachClosedCommandGoesAtAPromptThenExit) {
    ScratchFolder logDir;
    const std::string log = logDir / "session.log";
    FakeBridge bridge(FakeShellAdb(log, "shell@android:/ $"));
    if (!bridge.ready) GTEST_SKIP() << "another bridge server owns port 5037";
    const std::string output = bridge.lib.RunAdb("-shell ls;");
    EXPECT_EQ(ReadFile(log), Hex("ls") + Hex("exit\r\n"));
    EXPECT_EQ(output, "shell@android:/ $\r\nran:ls\r\nshell@android:/ $");
}

TEST(RunShellSession, RootPromptAndTextAfterTheLastSemicolonIsNotSent) {
    ScratchFolder logDir;
    const std::string log = logDir / "session.log";
    FakeBridge bridge(FakeShellAdb(log, "root@android:/ #"));
    if (!bridge.ready) GTEST_SKIP() << "another bridge server owns port 5037";
    bridge.lib.RunAdb("-shell  cd /sdcard\n;ls\n;rm x");
    EXPECT_EQ(ReadFile(log), Hex("cd /sdcard\n") + Hex("ls\n") + Hex("exit\r\n"));
}

TEST(RunShellSession, UnclosedCommandSendsNothingThenExit) {
    ScratchFolder logDir;
    const std::string log = logDir / "session.log";
    FakeBridge bridge(FakeShellAdb(log, "shell@android:/ $"));
    if (!bridge.ready) GTEST_SKIP() << "another bridge server owns port 5037";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bridge.lib.RunAdb("-shell ls"), "shell@android:/ $");
    EXPECT_EQ(ReadFile(log), Hex("exit\r\n"));
    EXPECT_LT(SecondsSince(start), 60.0);
}
