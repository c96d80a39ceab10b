// The package desk: the cache folder it reads once and stores on change, and a phone's arrival
// running the companion program from the address the page last gave, then its phone package.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "NotifyArgs.h"
#include "TempDir.h"
#include "base/Settings.h"
#include "mainpanel/CompanionServices.h"
#include "mainpanel/PackageDesk.h"
#include "os/GuiThread.h"

namespace {

using Strings = std::vector<std::string>;

// Runs what workers have posted to the GUI thread so far.
void RunPosted() {
    os::PostToGuiThread([] { os::QuitGuiLoop(0); });
    os::RunGuiLoop();
}

struct FakeSides {
    std::set<std::string> files;
    Strings log;
    bool hold = false;  // worker tasks wait in `held` instead of running at once
    std::vector<std::function<void()>> held;

    std::function<void()> NextHeld() {
        auto task = std::move(held.front());
        held.erase(held.begin());
        return task;
    }

    BrushServices Brush() {
        BrushServices s;
        s.moduleDirectory = "/opt/m";
        s.downloadResumable = [this](const std::string& url, const std::string& path,
                                     const DownloadResume&, DownloadWatch&) {
            log.push_back("download " + url + " -> " + path.substr(0, path.rfind('/') + 1));
            return 0;
        };
        s.startProgram = [this](const std::string&, const std::string& file) {
            log.push_back("start " + file);
            return files.count(file) > 0;
        };
        s.fileExists = [this](const std::string& path) { return files.count(path) > 0; };
        s.removeFile = [](const std::string&) { return false; };
        s.queueTask = [this](std::function<void()> task) {
            if (hold)
                held.push_back(std::move(task));
            else
                task();
        };
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
    std::unique_ptr<CPackageDesk> Desk(const std::string& settings,
                                       std::function<CompanionServices()> phones = {}) {
        CPackageDesk::PanelSide panel;
        panel.notifyPage = [this](const std::string& e, const std::vector<std::string>& args) {
            log.push_back(e + ":" + JoinedNotifyArgs(args));
        };
        panel.hideMainPanel = [this] { log.push_back("hide"); };
        if (!phones) phones = [this] { return Phones(); };
        return std::make_unique<CPackageDesk>(settings, panel, Brush(), std::move(phones));
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
    desk->StartBrushTask("tool.exe", "http://127.0.0.1:1/p/tool.zip", "");
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
    desk->StartBrushTask("lanternhall.exe", "http://127.0.0.1:1/p/lh.zip", "");
    sides.log.clear();
    EXPECT_TRUE(desk->HasPackage("lanternhall.exe"));
    sides.files.clear();  // gone from the cache: the arrival must fetch it from the address
    EXPECT_FALSE(desk->HasPackage("lanternhall.exe"));

    EXPECT_TRUE(desk->OnDeviceArrival());
    RunPosted();
    // The page hears the fetch ended, to ask what is there now.
    EXPECT_EQ(sides.log,
              (Strings{"runbrush:lanternhall','download",
                       "download http://127.0.0.1:1/p/lh.zip -> /srv/c/.maplenook/",
                       "runbrush:lanternhall','download.error", "brushend:lanternhall"}));

    sides.log.clear();
    sides.files.insert("/srv/c/lanternhall/lanternhall.exe");
    desk->StartBrushTask("lanternhall.exe", "http://127.0.0.1:1/p/lh.zip", "");
    EXPECT_EQ(sides.log,
              (Strings{"start /srv/c/lanternhall/lanternhall.exe", "hide",
                       "runbrush:lanternhall','run", "adb install -r \"/opt/m/phone.apk\""}));
}

TEST(PackageDesk, ArrivalsReadThePhonesOnceOnAWorkerOnePassAtATime) {
    testsupport::TempDir dir;
    const std::string settings = dir.File("cfg.ini");
    WriteSettingString(settings, "app", "cachedir", "/srv/d");
    std::vector<os::UsbDeviceFacts> facts;
    std::atomic<int> reads{0};
    std::atomic<bool> readOnGui{false};
    auto detector = std::make_shared<CSharedPhoneDetector>(std::make_shared<CPhoneDetector>(
        [&] {
            ++reads;
            if (os::IsGuiThread()) readOnGui = true;
            return std::optional(facts);
        },
        [](const std::string&, const std::string&) {}));
    FakeSides sides;
    sides.hold = true;
    auto desk = sides.Desk(settings, [detector] {
        auto s = RealCompanionServices(detector);
        s.isProcessRunning = [](const std::string&) { return false; };
        return s;
    });
    desk->Start();
    desk->StartBrushTask("lanternhall.exe", "http://127.0.0.1:1/p/lh.zip", "");
    while (!sides.held.empty()) sides.NextHeld()();  // the start-up sweep and that run
    sides.log.clear();

    // A burst while no phone is listed: one pass now, the rest folded into one more.
    for (int i = 0; i < 3; ++i) desk->OnDeviceArrival();
    ASSERT_EQ(sides.held.size(), 1u);
    std::thread(sides.NextHeld()).join();
    RunPosted();
    EXPECT_EQ(reads, 1);
    ASSERT_EQ(sides.held.size(), 1u) << "the folded pass";

    // Two bridge interfaces by then: one read for the list and both presence checks, and the
    // GUI thread starts the two tasks it is told of.
    for (const char* mi : {"01", "03"})
        facts.push_back({std::string("USB\\VID_18D1&PID_4EE7&MI_") + mi + "\\6&1&0&00" + mi,
                         os::HardwareIdRead::Readable, "USB\\Class_ff&SubClass_42&Prot_01",
                         os::kConfigFlagsDriverReady, "USB\\VID_18D1&PID_4EE7\\SER"});
    std::thread(sides.NextHeld()).join();
    EXPECT_EQ(reads, 2);
    EXPECT_TRUE(sides.held.empty() && sides.log.empty()) << "the worker starts nothing itself";
    RunPosted();
    while (!sides.held.empty()) sides.NextHeld()();
    EXPECT_EQ(std::count(sides.log.begin(), sides.log.end(), "runbrush:lanternhall','download"), 2);
    EXPECT_FALSE(readOnGui);

    // A pass that ends after its desk is gone touches nothing.
    RunPosted();  // the tasks' ends
    desk->OnDeviceArrival();
    ASSERT_EQ(sides.held.size(), 1u);
    desk.reset();
    std::thread(sides.NextHeld()).join();
    RunPosted();
    EXPECT_EQ(reads, 3);
    EXPECT_TRUE(sides.held.empty());
}

}  // namespace
