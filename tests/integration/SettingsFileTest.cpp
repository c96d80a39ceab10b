#include "base/IniText.h"
#include "base/Settings.h"
#include "base/Utf16.h"

#include "ChildRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

using namespace testsupport;
using namespace std::chrono_literals;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

// Runs `body` as an ordinary user, so that file modes bind even when the tests run as root.
int RunAsOrdinaryUser(const std::function<int()>& body) {
    const auto outcome = RunInChild(
        [&] {
            if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 90;
            return body();
        },
        30s);
    return outcome.exited ? outcome.exitCode : -1;
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++n;
    return n;
}

}  // namespace

TEST(SettingsFile, MissingFileReadsDefaultsAndIsCreatedByAWrite) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    EXPECT_EQ(ReadSettingString(cfg, "app", "cachedir"), "");
    EXPECT_EQ(ReadSettingString(cfg, "app", "cachedir", "fallback"), "fallback");
    EXPECT_EQ(ReadSettingInt(cfg, "mainpanel", "bkmode", 4), 4);
    EXPECT_FALSE(fs::exists(cfg));

    EXPECT_NE(WriteSettingString(cfg, "settings", "theme", "dark"), 0);
    EXPECT_EQ(ReadSettingString(cfg, "SETTINGS", "Theme"), "dark");
    EXPECT_EQ(ReadFile(cfg), "[settings]\ntheme=dark\n");
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(SettingsFile, IntegersAreTheLeadingNumberAndZeroMeansTheDefault) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    WriteFile(cfg,
              "[mainpanel]\nbkmode=0\nwidth= 640px\nheight=tall\nx=-12\n"
              "[app]\nwnd=-2147483648\n");
    EXPECT_EQ(ReadSettingInt(cfg, "mainpanel", "bkmode", 4), 4);
    EXPECT_EQ(ReadSettingInt(cfg, "mainpanel", "width"), 640);
    EXPECT_EQ(ReadSettingInt(cfg, "mainpanel", "height", 7), 7);
    EXPECT_EQ(ReadSettingInt(cfg, "mainpanel", "x"), -12);
    EXPECT_EQ(ReadSettingInt(cfg, "app", "wnd"), -2147483647 - 1);
}

TEST(SettingsFile, EveryCallSeesTheFileAsItIsNow) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    WriteFile(cfg, "[app]\nprever=1.0\n");
    EXPECT_EQ(ReadSettingString(cfg, "app", "prever"), "1.0");
    WriteFile(cfg, "[app]\nprever=2.0\n");  // a hand edit while the program runs
    EXPECT_EQ(ReadSettingString(cfg, "app", "prever"), "2.0");
    WriteSettingString(cfg, "App", "PREVER", "3.0");
    EXPECT_EQ(ReadSettingString(cfg, "app", "prever"), "3.0");
    EXPECT_EQ(ReadFile(cfg), "[app]\nprever=3.0\n");
}

TEST(SettingsFile, WritesKeepTheRestOfATrickyInstallerFile) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    const std::string installer =
        "; MapleNook\r\n"
        "[APP]\r\n"
        "Wnd = \"12\"\r\n"
        "wnd=99\r\n"
        "\r\n"
        "[resource]\r\n"
        "total=1\r\n"
        "1='\\res\\skin\\a.png'\r\n"
        "garbage without equals\r\n"
        "[app]\r\n"
        "cachedir=/second/section/is/ignored\r\n";
    WriteFile(cfg, installer);
    EXPECT_EQ(ReadSettingInt(cfg, "app", "wnd"), 12);
    EXPECT_EQ(ReadSettingString(cfg, "resource", "1"), "\\res\\skin\\a.png");
    EXPECT_EQ(ReadSettingString(cfg, "app", "cachedir"), "");

    EXPECT_NE(WriteSettingString(cfg, "app", "wnd", "77"), 0);
    EXPECT_NE(WriteSettingString(cfg, "app", "cachedir", "/cache"), 0);
    std::string expected = installer;
    expected.replace(expected.find("Wnd = \"12\""), 10, "Wnd=77");
    expected.replace(expected.find("wnd=99\r\n"), 8, "wnd=99\r\ncachedir=/cache\r\n");
    EXPECT_EQ(ReadFile(cfg), expected);
    EXPECT_EQ(ReadSettingString(cfg, "app", "cachedir"), "/cache");
}

TEST(SettingsFile, CrOnlyFileIsReadAndOnlyTheChangedLineIsRewritten) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    WriteFile(cfg, "[resource]\rtotal=2\r[app]\r\nwnd=3\r[settings]\rk=v\r");
    EXPECT_EQ(ReadSettingInt(cfg, "resource", "total"), 2);
    EXPECT_EQ(ReadSettingInt(cfg, "app", "wnd"), 3);
    EXPECT_NE(WriteSettingString(cfg, "app", "wnd", "4"), 0);
    EXPECT_EQ(WriteSettingString(cfg, "settings", "[app]", "9"), 0);
    EXPECT_EQ(ReadFile(cfg), "[resource]\rtotal=2\r[app]\r\nwnd=4\r[settings]\rk=v\r");
}

TEST(SettingsFile, Utf16FileIsReadAndWrittenBackAsUtf16) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    const std::string bom = "\xFF\xFE"s;
    WriteFile(cfg, bom + Utf8ToUtf16Le("[mainpanel]\r\ntitle=枫叶角\r\n[settings]\r\n"));
    EXPECT_EQ(ReadSettingString(cfg, "mainpanel", "title"), "枫叶角");
    EXPECT_NE(WriteSettingString(cfg, "settings", "name", "用户 \xF0\x9F\x8D\x81"), 0);
    EXPECT_EQ(ReadFile(cfg), bom + Utf8ToUtf16Le("[mainpanel]\r\ntitle=枫叶角\r\n[settings]\r\n"
                                                 "name=用户 \xF0\x9F\x8D\x81\r\n"));
    EXPECT_EQ(ReadSettingString(cfg, "settings", "name"), "用户 \xF0\x9F\x8D\x81");
}

TEST(SettingsFile, ValuesAreOneLineAndAtMost4094Characters) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    EXPECT_NE(WriteSettingString(cfg, "settings", "note", "line one\nline two"), 0);
    EXPECT_NE(WriteSettingString(cfg, "settings", "after", "still here"), 0);
    EXPECT_EQ(ReadSettingString(cfg, "settings", "note"), "line one");
    EXPECT_EQ(ReadSettingString(cfg, "settings", "after"), "still here");

    const std::string big(6000, 'v');
    EXPECT_NE(WriteSettingString(cfg, "settings", "big", big), 0);
    EXPECT_EQ(ReadSettingString(cfg, "settings", "big"), big.substr(0, 4094));
    EXPECT_EQ(ReadSettingString(cfg, "settings", "missing", big), big.substr(0, 4094));
    EXPECT_EQ(ReadSettingString(cfg, "settings", "after"), "still here");
}

TEST(SettingsFile, BadFilesNeverCrashAndReadAsDefaults) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    std::mt19937 random(7);
    const std::string headers[] = {"", "\xFF\xFE"s, "\xEF\xBB\xBF"s, "\xFE\xFF"s};
    for (const auto& header : headers) {
        for (size_t size : {0u, 1u, 3u, 4097u, 100000u}) {
            std::string bytes = header;
            for (size_t i = 0; i < size; ++i) bytes += static_cast<char>(random());
            WriteFile(cfg, bytes);
            EXPECT_EQ(ReadSettingString(cfg, "app", "nonexistent-key"), "");
            EXPECT_EQ(ReadSettingInt(cfg, "mainpanel", "nonexistent-key", 4), 4);
            EXPECT_NE(WriteSettingString(cfg, "app", "wnd", "5"), 0);
            EXPECT_EQ(ReadSettingInt(cfg, "app", "wnd"), 5);
        }
    }
}

TEST(SettingsFile, AFolderInPlaceOfTheFileReadsDefaultsAndRefusesWrites) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    fs::create_directory(cfg);
    EXPECT_EQ(ReadSettingString(cfg, "app", "cachedir", "d"), "d");
    EXPECT_EQ(WriteSettingString(cfg, "app", "wnd", "1"), 0);
    EXPECT_TRUE(fs::is_directory(cfg));
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(SettingsFile, UnreadableFileIsNeverReplacedByOneKey) {
    if (const std::string why = OrdinaryUserUnavailable(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    const std::string content = "[app]\nwnd=1\n[resource]\ntotal=4\n";
    WriteFile(cfg, content);
    chmod(dir.path().c_str(), 0777);  // the folder allows a rename; only the file is closed
    chmod(cfg.c_str(), 0000);
    const int result = RunAsOrdinaryUser([&] {
        if (ReadSettingString(cfg, "resource", "total", "none") != "none") return 1;
        if (WriteSettingString(cfg, "app", "wnd", "2") != 0) return 2;
        return 0;
    });
    EXPECT_EQ(result, 0);
    chmod(cfg.c_str(), 0600);
    EXPECT_EQ(ReadFile(cfg), content);
}

TEST(SettingsFile, FailedWritesReportZeroAndChangeNothing) {
    if (const std::string why = OrdinaryUserUnavailable(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    WriteFile(cfg, "[app]\nwnd=1\n");
    chmod(cfg.c_str(), 0666);
    chmod(dir.path().c_str(), 0555);  // no temporary file can be made beside it
    const int result =
        RunAsOrdinaryUser([&] { return WriteSettingString(cfg, "app", "wnd", "2") == 0 ? 0 : 1; });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(WriteSettingString(dir.File("no/such/folder/cfg.ini"), "a", "b", "c"), 0);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(ReadFile(cfg), "[app]\nwnd=1\n");
}

TEST(SettingsFile, ReplacingKeepsTheFileMode) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    WriteFile(cfg, "[app]\n");
    chmod(cfg.c_str(), 0600);
    ASSERT_NE(WriteSettingString(cfg, "app", "wnd", "3"), 0);
    struct stat st {};
    ASSERT_EQ(stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// Files the user set up a certain way stay that way: a read-only file is not rewritten, a
// link keeps pointing at a file that gets the change, and a FIFO is neither waited on nor
// replaced.
TEST(SettingsFile, ReadOnlyLinkedAndSpecialFilesAreRespected) {
    TempDir dir;
    const std::string readOnly = dir.File("ro.ini");
    WriteFile(readOnly, "[app]\nwnd=1\n");
    chmod(readOnly.c_str(), 0444);
    EXPECT_EQ(WriteSettingString(readOnly, "app", "wnd", "2"), 0);
    EXPECT_EQ(ReadFile(readOnly), "[app]\nwnd=1\n");

    const std::string target = dir.File("elsewhere/real.ini");
    WriteFile(target, "[app]\nwnd=1\n");
    const std::string link = dir.File("cfg.ini");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_NE(WriteSettingString(link, "app", "wnd", "2"), 0);
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadFile(target), "[app]\nwnd=2\n");
    EXPECT_EQ(ReadSettingString(link, "app", "wnd"), "2");

    const std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto outcome = testsupport::RunInChild(
        [&] {
            const bool read = ReadSettingString(fifo, "app", "wnd", "d") == "d";
            return read && WriteSettingString(fifo, "app", "wnd", "2") == 0 ? 0 : 1;
        },
        std::chrono::seconds(5));
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.output;
}

// A writer killed at any moment leaves the old file or the new one, never a cut one.
TEST(SettingsFile, KillDuringWritesNeverLeavesACutFile) {
    TempDir dir;
    const std::string cfg = dir.File("cfg.ini");
    std::string base = "[app]\nwnd=0\n[settings]\n";
    for (int i = 0; i < 4000; ++i) {
        base += "key" + std::to_string(i) + "=" + std::string(40, 'x') + "\n";
    }
    base += "[last]\nmarker=end\n";
    WriteFile(cfg, base);
    const std::string tail = base.substr(base.find("\n[settings]"));

    std::mt19937 random(42);
    for (int round = 0; round < 25; ++round) {
        const pid_t writer = StartInChild([&] {
            for (int n = 1;; ++n) WriteSettingString(cfg, "app", "wnd", std::to_string(n));
        });
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 30000));
        KillAndReap(writer, SIGKILL);

        const std::string now = ReadFile(cfg);
        const auto split = now.find("\n[settings]");
        ASSERT_NE(split, std::string::npos) << "round " << round;
        ASSERT_EQ(now.substr(split), tail) << "round " << round;
        ASSERT_EQ(now.rfind("[app]\nwnd=", 0), 0u) << "round " << round;
    }
}
