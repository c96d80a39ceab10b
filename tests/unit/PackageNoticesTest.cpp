#include "mainpanel/PackageNotices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

std::string TitleOf(const std::optional<CPackageNotices::Notice>& notice) {
    return notice ? notice->title : "<none>";
}

}  // namespace

TEST(PackageNotices, TheTooltipFollowsWhatIsInProgressAndIsIdleAfterwards) {
    CPackageNotices notices;
    EXPECT_EQ(notices.Tooltip(), "MapleNook");
    EXPECT_FALSE(notices.Take("runbrush", {"a", "download"}));
    EXPECT_EQ(notices.Tooltip(), "正在下载 a…");
    notices.Take("brushprogress", {"b", "10", "100", "waiting"});
    EXPECT_EQ(notices.Tooltip(), "正在下载 b…（另有 1 个）");
    notices.Take("runbrush", {"a", "unzip"});
    notices.Take("runbrush", {"b", "download.error", "network"});
    EXPECT_EQ(notices.Tooltip(), "正在解压 a…");
    // A prefetch ends with its extraction's last report, no start follows.
    notices.Take("brushprogress", {"a", "50", "100", "unzip"});
    EXPECT_EQ(notices.Tooltip(), "正在解压 a…");
    notices.Take("brushprogress", {"a", "100", "100", "unzip"});
    EXPECT_EQ(notices.Tooltip(), "MapleNook");
    // Without progress reports the page hears no end of a prefetch; the workflow's end counts.
    notices.Take("runbrush", {"c", "unzip"});
    notices.End("c");
    EXPECT_EQ(notices.Tooltip(), "MapleNook");
}

TEST(PackageNotices, FailuresAndStartsNameTheToolAndTheCauseCancelsAreQuiet) {
    CPackageNotices notices;
    auto notice = notices.Take("runbrush", {"tool", "download.error", "http:404"});
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->title, "tool 下载失败");
    EXPECT_NE(notice->body.find("HTTP 404"), std::string::npos) << notice->body;
    // A page that never opted into causes still gets words.
    EXPECT_EQ(notices.Take("runbrush", {"tool", "download.error"})->body, "下载没有完成。");
    EXPECT_EQ(notices.Take("runbrush", {"tool", "run.error", "start"})->body, "程序无法启动。");
    EXPECT_EQ(TitleOf(notices.Take("runbrush", {"tool", "run.error", "unsafe"})), "tool 无法启动");
    EXPECT_EQ(TitleOf(notices.Take("runbrush", {"tool", "run"})), "tool 已启动");
    // What the user cancelled, progress and malformed input tell nothing.
    EXPECT_FALSE(notices.Take("runbrush", {"tool", "download.error", "cancelled"}));
    EXPECT_FALSE(notices.Take("runbrush", {"tool", "run.error", "cancelled", "ready"}));
    EXPECT_FALSE(notices.Take("runbrush", {"tool", "download"}));
    EXPECT_FALSE(notices.Take("runbrush", {"tool"}));
    EXPECT_FALSE(notices.Take("brushprogress", {"tool", "1"}));
    // A name from the page cannot break the notification's lines.
    EXPECT_EQ(TitleOf(notices.Take("runbrush", {"t\nx\x1b", "run"})), "t x  已启动");
}

TEST(PackageNotices, ThePagesTitleNamesTheToolAndAStartIsToldEvenInView) {
    CPackageNotices notices;
    notices.Name("unlocker.sh", "解锁\n助手");
    notices.Take("runbrush", {"unlocker", "download"});
    EXPECT_EQ(notices.Tooltip(), "正在下载 解锁 助手…");
    const auto failed = notices.Take("runbrush", {"unlocker", "download.error", "http:404"});
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->title, "解锁 助手 下载失败");
    EXPECT_TRUE(failed->failed);
    EXPECT_FALSE(failed->evenInView);
    const auto started = notices.Take("runbrush", {"unlocker", "run"});
    ASSERT_TRUE(started);
    EXPECT_FALSE(started->failed);
    EXPECT_TRUE(started->evenInView);
    // Another package without a title keeps its base name.
    EXPECT_EQ(TitleOf(notices.Take("runbrush", {"flash", "run"})), "flash 已启动");
}
