// The package desk: the cache folder it reads once and stores on change, and a phone's arrival
// running the companion program from the address the page last gave, then its phone package.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "NotifyArgs.h"
#include "TempDir.h"
#include "base/Settings.h"
#include "mainpanel/PackageDesk.h"

namespace {

using Strings = std::vector<std::string>;

struct FakeSides {
    std::set<std::string> files;
    Strings log;

    BrushServices Brush() {
        BrushServices s;
        s.moduleDirectory = "/opt/m";
        s.downloadToFile = [this](const std::string& url, const std::string& path) {
            log.push_back("download " + url + " -> " + path.substr(0, path.rfind('/') + 1));
            return 0;
        };
        s.unzipTo = [](const std::string&, const std::string&) { return false; };
        s.startProgram = [this](const std::string&, const std::string& file) {
            log.push_back("start " + file);
            return files.count(file) > 0;
        };
        s.fileExists = [this](const std::string& path) { return files.count(path) > 0; };
        s.removeFile = [](const std::string&) { return false; };
        s.queueTask = [](std::function<void()> task) { task(); };
        return s;
    }
    CompanionServices Phones() {
        CompanionServices s;
        s.listPhoneInstanceIds = [] { return Strings{"phone"}; };
        s.isPresent = [](const std::string&) { return true; };
        s.isProcessRunning = [](const std::string&) { return false; };
        s.runAdb = [this](const std::string& command) {
            log.push_back("adb " + command);
            return std::string("Success");
        };
        s.wait = [](int) {};
        return s;
    }
    std::unique_ptr<CPackageDesk> Desk(const std::string& settings) {
        CPackageDesk::PanelSide panel;
        panel.notifyPage = [this](const std::string& e, const std::vector<std::string>& args) {
            log.push_back(e + ":" + JoinedNotifyArgs(args));
        };
        panel.hideMainPanel = [this] { log.push_back("hide"); };
        return std::make_unique<CPackageDesk>(settings, panel, Brush(),
                                              [this] { return Phones(); });
    }
};

TEST(PackageDesk, CacheFolderIsReadOnceAndStoredWhenSet) {
    testsupport::TempDir dir;
    const std::string settings = dir.File("cfg.ini");
    WriteSettingString(settings, "app", "cachedir", "/srv/a");
    FakeSides sides;
    auto desk = sides.Desk(settings);
    desk->Start();
    EXPECT_EQ(desk->CacheDir(), "/srv/a");
    WriteSettingString(settings, "app", "cachedir", "/srv/elsewhere");
    EXPECT_EQ(desk->CacheDir(), "/srv/a") << "read once, at start";

    desk->SetCacheDir("/srv/b");
    EXPECT_EQ(ReadSettingString(settings, "app", "cachedir"), "/srv/b");
    desk->StartBrushTask("tool.exe", "http://127.0.0.1:1/p/tool.zip");
    EXPECT_EQ(sides.log.at(1), "download http://127.0.0.1:1/p/tool.zip -> /srv/b/.maplenook/");
}

TEST(PackageDesk, ArrivalRunsTheCompanionFromItsLastAddressThenInstallsThePhonePackage) {
    testsupport::TempDir dir;
    const std::string settings = dir.File("cfg.ini");
    WriteSettingString(settings, "app", "cachedir", "/srv/c");
    FakeSides sides;
    sides.files.insert("/srv/c/lanternhall/lanternhall.exe");
    auto desk = sides.Desk(settings);
    desk->Start();
    desk->StartBrushTask("lanternhall.exe", "http://127.0.0.1:1/p/lh.zip");
    sides.log.clear();
    sides.files.clear();  // gone from the cache: the arrival must fetch it from the address

    EXPECT_TRUE(desk->OnDeviceArrival());
    EXPECT_EQ(sides.log, (Strings{"runbrush:lanternhall','download",
                                  "download http://127.0.0.1:1/p/lh.zip -> /srv/c/.maplenook/",
                                  "runbrush:lanternhall','download.error"}));

    sides.log.clear();
    sides.files.insert("/srv/c/lanternhall/lanternhall.exe");
    desk->StartBrushTask("lanternhall.exe", "http://127.0.0.1:1/p/lh.zip");
    EXPECT_EQ(sides.log,
              (Strings{"start /srv/c/lanternhall/lanternhall.exe", "hide",
                       "runbrush:lanternhall','run", "adb install -r \"/opt/m/phone.apk\""}));
}

}  // namespace
