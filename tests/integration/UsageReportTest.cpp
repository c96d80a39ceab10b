#include "LoopbackHttp.h"
#include "TempDir.h"
#include "mainpanel/UsageReport.h"
#include "os/Files.h"
#include "os/linux/LinuxOsName.h"
#include "sysutil/SystemInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// An installed folder whose name has a space, inside a temporary folder.
struct ModuleFolder {
    testsupport::TempDir parent;
    fs::path root = parent.File("Maple Nook");
    ModuleFolder() { fs::create_directory(root); }
};

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool WaitForFile(const fs::path& path) {
    for (int i = 0; i < 200 && !fs::exists(path); ++i) std::this_thread::sleep_for(50ms);
    return fs::exists(path);
}

}  // namespace

TEST(SystemInfo, FactsOfThisMachine) {
    const std::string name = OsDisplayName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 255u * 4);
    const os::KernelFacts kernel = os::ReadKernelFacts();
    ASSERT_FALSE(kernel.release.empty());
    EXPECT_NE(name.find("(kernel " + kernel.release + ")"), std::string::npos) << name;
    if (!os::ReadOsReleaseText().empty()) {
        EXPECT_NE(name.rfind("Linux (kernel", 0), 0u) << name;  // the distribution's own name
    }

    const std::string mac = MacText();
    EXPECT_TRUE(std::regex_match(mac, std::regex("[0-9]*"))) << mac;
    const std::string ip = LocalIpText();
    EXPECT_TRUE(ip.empty() || std::regex_match(ip, std::regex(R"(\d{1,3}(\.\d{1,3}){3})"))) << ip;
    EXPECT_NE(ip.rfind("127.", 0), 0u) << "the loopback names no computer: " << ip;
}

TEST(UsageReport, ServerReceivesTheSignQueryWithBlanksEncoded) {
    std::promise<std::string> received;
    loopback::HttplibServer http;
    http.server.Get("/log", [&](const httplib::Request& req, httplib::Response& res) {
        received.set_value(req.target + "|" + req.get_header_value("User-Agent"));
        res.set_content("ok", "text/plain");
    });
    ASSERT_TRUE(http.Start());
    SendUsageReportTo(http.BaseUrl() + "/log?command=sign&");
    auto arrived = received.get_future();
    ASSERT_EQ(arrived.wait_for(30s), std::future_status::ready);
    const std::string got = arrived.get();
    const std::string target = got.substr(0, got.find('|'));
    EXPECT_EQ(got.substr(got.find('|') + 1), "quorlin");
    EXPECT_EQ(target.find(' '), std::string::npos);
    EXPECT_EQ(loopback::PercentDecode(target), "/log?command=sign&ip=" + LocalIpText() + "&mac=" +
                                                   MacText() + "&os=" + OsDisplayName() + "&");
}

TEST(UsageReport, UrlKeepsValuesAsTheyAreExceptAHash) {
    EXPECT_EQ(UsageReportUrl("http://127.0.0.1:1/log?command=sign&", "10.0.0.2", "02643607794",
                             "Distro 1 (x), 64-bit #1"),
              "http://127.0.0.1:1/log?command=sign&ip=10.0.0.2&mac=02643607794&"
              "os=Distro 1 (x), 64-bit %231&");
    EXPECT_EQ(UsageReportUrl("b?", "", "", ""), "b?ip=&mac=&os=&");
    EXPECT_EQ(UsageReportBase().substr(UsageReportBase().size() - 18), "/log?command=sign&");
}

TEST(LaunchUpdater, StartsTheUpdaterDetachedWithXmlPathHandleAndPid) {
    ModuleFolder module;
    const fs::path updater = module.root / "autoupdate.exe";
    std::ofstream(updater) << "#!/bin/sh\n"
                              "out=\"$(dirname \"$0\")/args\"\n"
                              "{ printf '%s\\n' \"$#\" \"$@\"; cut -d' ' -f6 /proc/$$/stat; } "
                              "> \"$out.tmp\"\n"
                              "mv \"$out.tmp\" \"$out\"\n";
    fs::permissions(updater, fs::perms::owner_all);

    LaunchUpdaterIn(module.root.string(), 0);
    ASSERT_TRUE(WaitForFile(module.root / "args"));
    const auto lines = Lines(module.root / "args");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "3");
    EXPECT_EQ(lines[1], (module.root / "autoupdate.xml").string());
    EXPECT_EQ(lines[2], "0");
    EXPECT_EQ(lines[3], std::to_string(getpid()));
    EXPECT_NE(lines[4], std::to_string(getsid(0)));  // its own session
    // Nothing is left for this process to reap.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(LaunchUpdater, MissingUpdaterIsIgnored) {
    ModuleFolder module;
    LaunchUpdaterIn(module.root.string(), 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_TRUE(fs::is_empty(module.root));
}
