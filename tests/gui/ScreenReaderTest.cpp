// The installed program on an accessibility bus of its own, read as a screen reader reads it
// (tests/gui/atspi_reader.py): the local page's texts in the tree, and a failed download heard.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
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

const std::vector<std::string> kTexts = {"LanternHall 桌面助手",
                                         "一键刷机",
                                         "解锁助手",
                                         "数据备份",
                                         "已下载",
                                         "缓存目录",
                                         "开机启动",
                                         "连接手机后，助手会自动启动"};

// Starts the installed program with packages from `site` under the reader, which presses 运行
// 解锁助手 once the page's texts show and records until `heard` is heard.
std::string ReadAloud(const loopback::HttplibServer& site, const std::string& heard) {
    testsupport::TempDir home;
    testsupport::TempDir cache;
    testsupport::InstalledFolder folder;
    testsupport::WriteFile(
        folder.File("res/web/brush.html"),
        testsupport::ReadFile(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/web/brush.html"));
    // flashkit is in the cache, put there as the program puts it, which shows its badge.
    testsupport::WriteFile(home.File("src/flashkit.exe"), "#!/bin/sh\n", 0755);
    EXPECT_EQ(std::system(("cd " + ShellQuote(home.File("src")) + " && zip -q -r " +
                           ShellQuote(home.File("flashkit.zip")) + " .")
                              .c_str()),
              0);
    EXPECT_EQ(ExtractZip(home.File("flashkit.zip"), cache.File("flashkit")), ExtractResult::Done);
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

    const std::string record = home.File("atspi.txt");
    // The system's interpreter: it is the one with Debian's AT-SPI bindings.
    const std::string reader =
        std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/tests/gui/atspi_reader.py";
    std::vector<std::string> argv = {"/usr/bin/python3", reader, "--out", record};
    argv.insert(argv.end(), {"--timeout", "120", "--press", "运行 解锁助手", "--await", heard});
    for (const auto& text : kTexts) argv.insert(argv.end(), {"--expect", text});
    argv.insert(argv.end(), {"--", folder.exe()});

    const auto run = testsupport::RunChild(argv, 200s, env, folder.dir());
    EXPECT_TRUE(run.exited && run.exitCode == 0) << run.output;
    return testsupport::ReadFile(record);
}

TEST(ScreenReader, ReadsTheLocalPageAndHearsAFailedDownload) {
    if (!MAPLENOOK_TEST_HOOKS) GTEST_SKIP() << "the program must take the test's addresses";
    // The maker's server has no packages: every download fails with 404.
    loopback::HttplibServer site;
    ASSERT_TRUE(site.Start());
    const std::string text = ReadAloud(site, "下载失败");
    const auto records = Records(text);

    for (const auto& expected : kTexts)
        EXPECT_TRUE(HasObjectWithText(records, expected)) << expected << "\n" << text;
    // The toast, a status region, is heard with the failure it shows.
    bool heard = false;
    for (const auto& r : records)
        heard = heard || (r.size() >= 4 && r[0] == "event" && r[3] == "status bar" &&
                          r[2].rfind("下载失败：解锁助手", 0) == 0);
    EXPECT_TRUE(heard) << text;
}

// A download of several seconds: its progress is heard in words every few seconds, not at each
// step, and neither the document's description nor the bar's value, which a reader may speak
// again at each change, churns.
TEST(ScreenReader, HearsALongDownloadsProgressEveryFewSeconds) {
    if (!MAPLENOOK_TEST_HOOKS) GTEST_SKIP() << "the program must take the test's addresses";
    // 2.25 MB in 96 pieces an eighth of a second apart, about 12 s; not an archive, so it fails
    // once it is whole.
    loopback::HttplibServer site;
    site.server.Get("/pkg/unlocker.zip", [](const httplib::Request&, httplib::Response& res) {
        constexpr size_t kPiece = 24 * 1024;
        res.set_content_provider(96 * kPiece, "application/zip",
                                 [](size_t, size_t, httplib::DataSink& sink) {
                                     std::this_thread::sleep_for(125ms);
                                     return sink.write(std::string(kPiece, 'z').data(), kPiece);
                                 });
    });
    ASSERT_TRUE(site.Start());
    const std::string text = ReadAloud(site, "无法安装");

    // Changes a reader may speak: the document's description, the bar's value.
    int descriptions = 0, values = 0;
    std::vector<double> spoken;  // when progress words were heard, one entry an announcement
    for (const auto& r : Records(text)) {
        if (r.size() < 7 || r[0] != "event") continue;
        descriptions +=
            r[1] == "object:property-change:accessible-description" && r[3] == "document web";
        values += r[1] == "object:property-change:accessible-value" && r[3] == "progress bar";
        const double at = std::stod(r[6]);
        if (r[2].find(" / ") != std::string::npos && r[2].find("MB") != std::string::npos &&
            (spoken.empty() || at - spoken.back() > 1.0))
            spoken.push_back(at);
    }
    EXPECT_LE(descriptions, 2) << text;
    EXPECT_LE(values, 5) << text;
    // Heard while it runs, not only at its start, and never twice within a few seconds.
    EXPECT_GE(spoken.size(), 2u) << text;
    for (size_t i = 1; i < spoken.size(); ++i) EXPECT_GE(spoken[i] - spoken[i - 1], 3.0) << text;
}

}  // namespace
