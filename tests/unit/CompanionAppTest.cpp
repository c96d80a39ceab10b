// The companion program's start on device arrival, the phone package install with its one
// retry, and the prefetch of "app.checkapp".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "NotifyArgs.h"
#include "TempDir.h"
#include "base/Settings.h"
#include "mainpanel/CompanionApp.h"
#include "package/BrushWorkflow.h"

namespace {

using Strings = std::vector<std::string>;

struct FakePhones {
    Strings ids;
    std::map<std::string, bool> present;
    Strings processes;
    Strings adbAnswers;  // one per call, in order; "" when exhausted
    Strings adbCalls;
    std::vector<int> waits;
    Strings log;  // waits and adb calls interleaved

    CompanionServices Services() {
        CompanionServices s;
        s.listPhoneInstanceIds = [this] { return ids; };
        s.isPresent = [this](const std::string& id) { return present[id]; };
        s.isProcessRunning = [this](const std::string& image) {
            return IsProcessRunning(processes, image);
        };
        s.runAdb = [this](const std::string& command) {
            adbCalls.push_back(command);
            log.push_back("adb");
            const size_t n = adbCalls.size() - 1;
            return n < adbAnswers.size() ? adbAnswers[n] : std::string();
        };
        s.wait = [this](int ms) {
            waits.push_back(ms);
            log.push_back("wait " + std::to_string(ms));
        };
        return s;
    }
};

const std::string kPhoneA = "USB\\VID_18D1&PID_4EE7\\A1";
const std::string kPhoneB = "USB\\VID_18D1&PID_4EE7&MI_01\\B2";

TEST(CompanionApp, ProcessImageNamesAreLowerCasedBeforeTheExactCompare) {
    EXPECT_TRUE(IsProcessRunning({"bash", "LanternHall.EXE"}, "lanternhall.exe"));
    EXPECT_FALSE(IsProcessRunning({"lanternhall"}, "lanternhall.exe"));
    // The wanted name is not folded: it must be given in lower case.
    EXPECT_FALSE(IsProcessRunning({"lanternhall.exe"}, "LanternHall.exe"));
    EXPECT_FALSE(IsProcessRunning({}, "lanternhall.exe"));
}

TEST(CompanionApp, ArrivalStartsTheCompanionPerPresentPhoneOnlyWhenNotRunning) {
    FakePhones p;
    int starts = 0;
    auto start = [&] { ++starts; };

    EXPECT_EQ(OnDeviceArrival(p.Services(), start), 0) << "no phone attached";

    p.ids = {kPhoneA};
    p.present[kPhoneA] = false;
    EXPECT_EQ(OnDeviceArrival(p.Services(), start), 0) << "listed but not present";

    p.present[kPhoneA] = true;
    EXPECT_EQ(OnDeviceArrival(p.Services(), start), 1);

    p.processes = {"systemd", "LANTERNHALL.exe"};
    EXPECT_EQ(OnDeviceArrival(p.Services(), start), 0) << "already running";

    p.processes.clear();
    p.ids = {kPhoneA, kPhoneB};
    p.present[kPhoneB] = true;
    EXPECT_EQ(OnDeviceArrival(p.Services(), start), 2) << "one task per present interface";
    EXPECT_EQ(starts, 3);
}

TEST(CompanionApp, ArrivalsWhileCompanionTasksRunStartNothing) {
    FakePhones p;
    p.ids = {kPhoneA};
    p.present[kPhoneA] = true;
    CCompanionArrivals arrivals;
    int starts = 0;
    auto start = [&] { ++starts; };
    EXPECT_EQ(arrivals.OnArrival(p.Services(), start), 1);
    EXPECT_EQ(arrivals.OnArrival(p.Services(), start), 0);  // the same phone's next interface
    EXPECT_EQ(arrivals.TasksRunning(), 1);
    arrivals.TaskFinished();
    EXPECT_EQ(arrivals.OnArrival(p.Services(), start), 1);
    EXPECT_EQ(starts, 2);
}

TEST(CompanionApp, InstallWaitsThenInstallsAndRetriesOnceWithoutSuccess) {
    FakePhones p;
    p.ids = {kPhoneA, kPhoneB};
    p.present[kPhoneB] = true;

    p.adbAnswers = {"Performing Streamed Install\nSuccess\n"};
    EXPECT_EQ(InstallCompanionApk(p.Services(), "/opt/m/phone.apk"), 1);
    EXPECT_EQ(p.adbCalls, (Strings{"install -r \"/opt/m/phone.apk\""}));
    EXPECT_EQ(p.log, (Strings{"wait 1200", "adb"}));

    FakePhones q = p;
    q.adbCalls.clear();
    q.log.clear();
    q.adbAnswers = {"adb: failed to install: INSTALL_FAILED_VERSION_DOWNGRADE", "also failed"};
    EXPECT_EQ(InstallCompanionApk(q.Services(), "/opt/m/phone.apk"), 1);
    EXPECT_EQ(q.log, (Strings{"wait 1200", "adb", "wait 1200", "adb"}))
        << "exactly one retry; the second answer is not examined";
    EXPECT_EQ(q.adbCalls[1], q.adbCalls[0]);

    FakePhones r = p;
    r.log.clear();
    r.adbAnswers = {"success"};  // the word is searched case-sensitively
    InstallCompanionApk(r.Services(), "/a.apk");
    EXPECT_EQ(r.log.size(), 4u);
}

TEST(CompanionApp, InstallDoesNothingWithoutAPresentPhone) {
    FakePhones p;
    p.ids = {kPhoneA};
    EXPECT_EQ(InstallCompanionApk(p.Services(), "/a.apk"), 1);
    EXPECT_TRUE(p.log.empty());
}

class PrefetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = temp_.path();
        std::filesystem::create_directories(dir_ / "cache");
        settings_ = (dir_ / "cfg.ini").string();
        cache_ = (dir_ / "cache").string();

        BrushServices s;
        s.moduleDirectory = dir_.string();
        s.notifyPage = [this](const std::string&, const std::vector<std::string>& args) {
            notes_.push_back(JoinedNotifyArgs(args));
        };
        s.hideMainPanel = [] {};
        s.downloadResumable = [this](const std::string& url, const std::string&,
                                     const DownloadResume&, DownloadWatch&) {
            fetched_.push_back(url);
            return 0;
        };
        s.startProgram = [](const std::string&, const std::string&) { return false; };
        s.fileExists = [](const std::string& p) { return std::filesystem::exists(p); };
        s.removeFile = [](const std::string& p) { return std::filesystem::remove(p); };
        s.queueTask = [](std::function<void()> task) { task(); };
        flow_ = std::make_shared<CBrushWorkflow>(s);
    }

    int Check(const std::string& file, const std::string& version) {
        return PrefetchIfStale(*flow_, settings_, cache_, file, "http://127.0.0.1:1/p/tool.zip",
                               version);
    }
    void PlaceProgram() {
        std::filesystem::create_directories(dir_ / "cache" / "tool");
        std::ofstream(dir_ / "cache" / "tool" / "tool.exe") << "x";
    }

    testsupport::TempDir temp_;
    std::filesystem::path dir_;
    std::string settings_, cache_;
    Strings notes_, fetched_;
    std::shared_ptr<CBrushWorkflow> flow_;
};

TEST_F(PrefetchTest, MissingPackageIsFetchedAndVersionRecordedFirst) {
    EXPECT_EQ(Check("tool.exe", "1.0"), 1);
    EXPECT_EQ(ReadSettingString(settings_, "app", "prever"), "1.0");
    EXPECT_EQ(fetched_.size(), 1u);
    // The failed download leaves the program missing: the same version fetches again.
    EXPECT_EQ(Check("tool.exe", "1.0"), 1);
    EXPECT_EQ(fetched_.size(), 2u);
    EXPECT_EQ(notes_, (Strings{"tool','download", "tool','download.error", "tool','download",
                               "tool','download.error"}));
}

TEST_F(PrefetchTest, PresentPackageIsFetchedOnlyForAnotherVersion) {
    PlaceProgram();
    WriteSettingString(settings_, "app", "prever", "1.0");
    EXPECT_EQ(Check("tool.exe", "1.0"), 1);
    EXPECT_TRUE(fetched_.empty());
    EXPECT_EQ(Check("tool.exe", "1.1"), 1);
    EXPECT_EQ(fetched_.size(), 1u);
    EXPECT_EQ(ReadSettingString(settings_, "app", "prever"), "1.1");
}

TEST_F(PrefetchTest, FileNameWithoutExtensionDoesNothing) {
    WriteSettingString(settings_, "app", "prever", "1.0");
    EXPECT_EQ(Check("tool", "2.0"), 0);
    EXPECT_EQ(ReadSettingString(settings_, "app", "prever"), "1.0");
    EXPECT_TRUE(fetched_.empty());
}

}  // namespace
