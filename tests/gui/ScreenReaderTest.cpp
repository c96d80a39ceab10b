// The installed program on an accessibility bus of its own, read as a screen reader reads it
// (tests/gui/atspi_reader.py): the local page's texts in the tree, and a failed download heard.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "ChildRun.h"
#include "InstalledFolder.h"
#include "LoopbackHttp.h"
#include "ScratchFolder.h"
#include "TempDir.h"
#include "package/ZipExtract.h"

using namespace std::chrono_literals;

namespace {

// The reader's record: one line a record, split at its tabs.
std::vector<std::vector<std::string>> Records(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        records.push_back(fields);
    }
    return records;
}

bool HasObjectWithText(const std::vector<std::vector<std::string>>& records,
                       const std::string& text) {
    for (const auto& r : records)
        if (r.size() >= 4 && r[0] == "node" && r[3] == text) return true;
    return false;
}

TEST(ScreenReader, ReadsTheLocalPageAndHearsAFailedDownload) {
    if (!MAPLENOOK_TEST_HOOKS) GTEST_SKIP() << "the program must take the test's addresses";
    // The maker's server has no packages: every download fails with 404.
    loopback::HttplibServer site;
    ASSERT_TRUE(site.Start());
    testsupport::TempDir home;
    testsupport::TempDir cache;
    testsupport::InstalledFolder folder;
    testsupport::WriteFile(
        folder.File("res/web/brush.html"),
        testsupport::ReadFile(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/web/brush.html"));
    // flashkit is in the cache, put there as the program puts it, which shows its badge.
    testsupport::WriteFile(home.File("src/flashkit.exe"), "#!/bin/sh\n", 0755);
    ASSERT_EQ(std::system(("cd " + ShellQuote(home.File("src")) + " && zip -q -r " +
                           ShellQuote(home.File("flashkit.zip")) + " .")
                              .c_str()),
              0);
    ASSERT_TRUE(UnzipTo(home.File("flashkit.zip"), cache.File("flashkit")));
    folder.WriteSettings("[app]\nwnd=0\ncachedir=" + cache.path() +
                         "\n[resource]\ntotal=1\n1=\\res\\skin\\bk.png\n"
                         "[mainpanel]\ntitle=MapleNook\nbkimage=1\n"
                         "[settings]\npkgbase=" +
                         site.BaseUrl() + "/pkg/\n");
    auto env = folder.Env();
    env.insert(env.end(), {{"MAPLENOOK_TEST_PAGE_URL",
                            "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) +
                                "/Brush.html"},
                           {"MAPLENOOK_TEST_STATS_URL", site.BaseUrl()},
                           {"HOME", home.path()},
                           {"XDG_CONFIG_HOME", home.File("config")},
                           {"XDG_DATA_HOME", home.File("data")}});

    const std::vector<std::string> texts = {"LanternHall 桌面助手",
                                            "一键刷机",
                                            "解锁助手",
                                            "数据备份",
                                            "已下载",
                                            "缓存目录",
                                            "开机启动",
                                            "连接手机后，助手会自动启动"};
    const std::string record = home.File("atspi.txt");
    // The system's interpreter: it is the one with Debian's AT-SPI bindings.
    const std::string reader =
        std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/tests/gui/atspi_reader.py";
    std::vector<std::string> argv = {"/usr/bin/python3", reader, "--out", record};
    argv.insert(argv.end(),
                {"--timeout", "120", "--press", "运行 解锁助手", "--await", "下载失败"});
    for (const auto& text : texts) argv.insert(argv.end(), {"--expect", text});
    argv.insert(argv.end(), {"--", folder.exe()});

    const auto run = testsupport::RunChild(argv, 200s, env, folder.dir());
    ASSERT_TRUE(run.exited && run.exitCode == 0) << run.output;
    const std::string text = testsupport::ReadFile(record);
    const auto records = Records(text);

    for (const auto& expected : texts)
        EXPECT_TRUE(HasObjectWithText(records, expected)) << expected << "\n" << text;
    // The toast, a status region, is heard with the failure it shows.
    bool heard = false;
    for (const auto& r : records)
        heard = heard || (r.size() >= 4 && r[0] == "event" && r[3] == "status bar" &&
                          r[2].rfind("下载失败：解锁助手", 0) == 0);
    EXPECT_TRUE(heard) << text << run.output;
}

}  // namespace
