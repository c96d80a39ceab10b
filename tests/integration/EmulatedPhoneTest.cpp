// The phone path end to end: Debian's adb, run by the program's bridge runner, against the
// emulated phone of demo/, in a network namespace of the test's own (so the bridge server's
// port 5037 is the test's alone), with the phone reported by a copy of the USB device tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ChildRun.h"
#include "EmulatedPhone.h"
#include "FakeUsbTree.h"
#include "ForeignListener.h"
#include "LoopbackHttp.h"
#include "PrivateNetwork.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "base/Settings.h"
#include "mainpanel/CompanionApp.h"
#include "mainpanel/CompanionServices.h"
#include "mainpanel/PackageDesk.h"
#include "os/DiagnosticLog.h"
#include "os/GuiThread.h"
#include "os/ProcFs.h"
#include "os/UsbFacts.h"
#include "package/PackageServices.h"
#include "phone/ModuleLib.h"
#include "phone/PhoneDetector.h"

using namespace std::chrono_literals;
using testsupport::EmulatedPhone;
using testsupport::ReadFile;

namespace {

constexpr const char* kSerial = "MN0123456789";
const std::string kPrompt = "shell@android:/ $ ";
const std::string kPmInstall = "shell: pm 'install' '-r' '/data/local/tmp/phone.apk'";

std::string RandomBytes(size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A module folder with Debian's adb tools and a phone package, a private runtime, home and
// state folder, all inside a network namespace of this thread's own. The bridge servers
// started here are ended when it goes.
class PhoneWorld {
  public:
    explicit PhoneWorld(size_t apkSize = 2 << 20) {
        if (!net_.Entered()) {
            skip = "no private network namespace: " + net_.Reason();
            return;
        }
        if (!Shell("command -v adb >/dev/null")) {
            skip = "Debian's adb is not installed";
            return;
        }
        module = dir_.File("module");
        Shell("mkdir -p '" + module +
              "/adb' && for t in adb aapt fastboot; do cp -L "
              "\"$(command -v $t)\" '" +
              module + "/adb/'; done");
        apk = module + "/phone.apk";
        testsupport::WriteFile(apk, RandomBytes(apkSize));
        for (const char* name : {"home", "tmp", "run", "state"}) {
            mkdir(dir_.File(name).c_str(), 0700);
        }
        env_.Set("HOME", dir_.File("home"));
        env_.Set("TMPDIR", dir_.File("tmp"));
        env_.Set("XDG_RUNTIME_DIR", dir_.File("run"));
        env_.Set("XDG_STATE_HOME", dir_.File("state"));
        for (const char* name : {"ANDROID_ADB_SERVER_PORT", "ADB_SERVER_SOCKET", "ANDROID_SERIAL"})
            env_.Unset(name);
    }
    ~PhoneWorld() {
        if (!skip.empty()) return;
        if (initialised_) lib.RunAdb("kill-server");
        // Whatever still runs from our folders (a server the test started itself) goes too.
        for (const auto& process : os::ListProcesses()) {
            if (process.imagePath.rfind(dir_.path(), 0) == 0 ||
                process.imagePath.rfind(lib.toolDir(), 0) == 0)
                kill(static_cast<pid_t>(process.pid), SIGKILL);
        }
    }

    std::string Folder(const std::string& name) const { return dir_.File(name); }
    bool Init() { return initialised_ = lib.Init(module); }

    // Connects the phone to the server the bridge runner uses and waits until it is a device.
    bool Connect(const EmulatedPhone& phone) {
        if (phone.Address().empty()) return false;
        lib.RunAdb("connect " + phone.Address());
        return testsupport::WaitUntil(
            [&] {
                return lib.RunAdb("devices").find(phone.Address() + "\tdevice") !=
                       std::string::npos;
            },
            20s);
    }

    // The companion steps' services over `tree`, with bridge commands going through `lib`;
    // `calls` (when given) receives when each command started and ended and what it printed.
    struct Call {
        std::chrono::steady_clock::time_point start, end;
        std::string output;
    };
    CompanionServices Services(const FakeUsbTree& tree, std::vector<Call>* calls = nullptr) {
        const std::string root = tree.Root();
        auto detector = std::make_shared<CPhoneDetector>(
            [root] {
                return os::ReadUsbDeviceFacts(root, [](const std::string&) { return true; });
            },
            [](const std::string&, const std::string&) {});
        CompanionServices services = RealCompanionServices(detector);
        services.runAdb = [this, calls](const std::string& command) {
            Call call{std::chrono::steady_clock::now(), {}, lib.RunAdb(command)};
            call.end = std::chrono::steady_clock::now();
            if (calls) calls->push_back(call);
            return call.output;
        };
        return services;
    }

    std::string DiagnosticLog() const { return ReadFile(os::DiagnosticLogPath()); }

    std::string skip;
    std::string module;
    std::string apk;
    CModuleLib lib;

  private:
    testsupport::PrivateNetwork net_;
    testsupport::ScopedEnv env_;
    testsupport::TempDir dir_;
    bool initialised_ = false;
};

#define SKIP_UNLESS_READY(world) \
    if (!(world).skip.empty()) GTEST_SKIP() << (world).skip

// Workers of the test's own: threads made here share this thread's network namespace, which
// the program's shared pool, made before, would not.
class TestWorkers {
  public:
    ~TestWorkers() {
        for (auto& thread : threads_) thread.join();
    }
    std::function<void(std::function<void()>)> Queue() {
        return [this](std::function<void()> task) {
            std::lock_guard lock(mutex_);
            ++running_;
            threads_.emplace_back([this, task = std::move(task)] {
                task();
                --running_;
            });
        };
    }
    bool Idle() const { return running_ == 0; }

  private:
    std::atomic<int> running_{0};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

// Runs the GUI loop in short turns until `condition` holds.
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return testsupport::WaitUntil(
        [&] {
            os::PostToGuiThread([] { os::QuitGuiLoop(0); });
            os::RunGuiLoop();
            return condition();
        },
        timeout);
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                           const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

}  // namespace

TEST(EmulatedPhone, ArrivalStartsTheCompanionAndThePhonePackageReachesThePhoneWhole) {
    PhoneWorld world;
    SKIP_UNLESS_READY(world);
    ASSERT_TRUE(world.Init());
    EmulatedPhone phone(world.Folder("record"), {"--serial", kSerial});
    ASSERT_TRUE(world.Connect(phone)) << phone.Process().Output();
    EXPECT_EQ(world.lib.RunAdb("shell getprop ro.serialno"), std::string(kSerial) + "\n");

    // The companion program, as the maker's site serves it: it notes each start and ends.
    const std::string starts = world.Folder("starts");
    testsupport::WriteFile(world.Folder("pkg/lanternhall.exe"),
                           "#!/bin/sh\necho started >> '" + starts + "'\n", 0755);
    ASSERT_TRUE(
        Shell("cd '" + world.Folder("pkg") + "' && zip -q -X lanternhall.zip lanternhall.exe"));
    loopback::HttplibServer site;
    const std::string archive = ReadFile(world.Folder("pkg/lanternhall.zip"));
    site.server.Get("/lanternhall.zip", [&](const httplib::Request&, httplib::Response& answer) {
        answer.set_content(archive, "application/zip");
    });
    ASSERT_TRUE(site.Start());

    FakeUsbTree tree;
    tree.RootHub("usb1");
    TestWorkers workers;
    BrushServices services = RealPackageServices();
    services.moduleDirectory = world.module;
    services.defaultCacheFolder = world.Folder("cache");
    services.queueTask = workers.Queue();
    const std::string settings = world.module + "/cfg.ini";
    WriteSettingString(settings, "app", "cachedir", world.Folder("cache"));
    CPackageDesk::PanelSide panel;
    panel.notifyPage = [](const std::string&, const std::vector<std::string>&) {};
    panel.hideMainPanel = [] {};
    CPackageDesk desk(settings, panel, services, [&] { return world.Services(tree); });
    desk.Start();

    // The page ran the companion once while no phone was attached: nothing to install then.
    desk.StartBrushTask(kCompanionImageName, site.BaseUrl() + "/lanternhall.zip", "");
    ASSERT_TRUE(PumpUntil([&] { return ReadFile(starts) == "started\n" && workers.Idle(); }, 30s));

    tree.CompositePhone("1-1", kSerial);
    EXPECT_TRUE(desk.OnDeviceArrival());
    ASSERT_TRUE(PumpUntil([&] { return phone.CountCommands(kPmInstall) > 0; }, 60s))
        << ReadFile(starts) << world.DiagnosticLog();
    EXPECT_EQ(ReadFile(starts), "started\nstarted\n") << "the arrival started the companion";
    EXPECT_EQ(ReadFile(phone.RecordDir() + "/install-1.apk"), ReadFile(world.apk));
    EXPECT_EQ(phone.CountCommands(kPmInstall), 1);
    desk.Stop();
}

TEST(EmulatedPhone, AFailedInstallIsTriedOnceMoreAbout1200msLaterAndNeverAThirdTime) {
    for (const int failures : {1, 2}) {
        SCOPED_TRACE("installs failing: " + std::to_string(failures));
        PhoneWorld world;
        SKIP_UNLESS_READY(world);
        ASSERT_TRUE(world.Init());
        EmulatedPhone phone(world.Folder("record"),
                            {"--serial", kSerial, "--fail-installs", std::to_string(failures)});
        ASSERT_TRUE(world.Connect(phone));
        FakeUsbTree tree;
        tree.CompositePhone("1-1", kSerial);
        std::vector<PhoneWorld::Call> calls;

        EXPECT_EQ(InstallCompanionApk(world.Services(tree, &calls), world.apk), 1);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_NE(calls[0].output.find("Failure [INSTALL_FAILED_INTERNAL_ERROR]"),
                  std::string::npos)
            << calls[0].output;
        const auto pause = calls[1].start - calls[0].end;
        EXPECT_GE(pause, 1200ms);
        EXPECT_LT(pause, 2500ms);
        EXPECT_EQ(phone.CountCommands(kPmInstall), 2);
        const std::string landed = ReadFile(phone.RecordDir() + "/install-1.apk");
        if (failures == 1) {
            EXPECT_NE(calls[1].output.find("Success"), std::string::npos) << calls[1].output;
            EXPECT_EQ(landed, ReadFile(world.apk));
        } else {
            EXPECT_EQ(calls[1].output.find("Success"), std::string::npos);
            EXPECT_EQ(landed, "");
            const std::string log = world.DiagnosticLog();
            EXPECT_NE(
                log.find("phone package not installed: " + world.apk + ": Performing Push Install"),
                std::string::npos)
                << log;
        }
    }
}

TEST(EmulatedPhone, ShellSessionAnswersThePhonesPromptsAndEnds) {
    PhoneWorld world;
    SKIP_UNLESS_READY(world);
    ASSERT_TRUE(world.Init());
    EmulatedPhone phone(world.Folder("record"), {"--model", "Maple Test"});
    ASSERT_TRUE(world.Connect(phone));

    // An empty command (nothing is sent), a command with output, an empty line, another
    // command; then the session says exit.
    const auto start = std::chrono::steady_clock::now();
    const std::string output =
        world.lib.RunAdb("-shell ;echo hello phone\n;\n;getprop ro.product.model\n;");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "the session ended by itself";
    EXPECT_EQ(output, kPrompt + "hello phone\n" + kPrompt + kPrompt + "Maple Test\n" + kPrompt);
    EXPECT_EQ(LinesStartingWith(phone.Commands(), "shell: "),
              (std::vector<std::string>{"shell: (interactive)", "shell: echo hello phone",
                                        "shell: getprop ro.product.model", "shell: exit"}));
}

TEST(EmulatedPhone, AnotherProgramsServerOfTheUserIsUsedAndOneOfAnotherUserNever) {
    {
        // Another program of this user runs its adb server on 5037, the phone connected to it.
        PhoneWorld world;
        SKIP_UNLESS_READY(world);
        const std::string other = world.Folder("other/adb");
        ASSERT_TRUE(Shell("mkdir -p '" + world.Folder("other") +
                          "' && cp -L \"$(command -v adb)\" '" + other + "' && '" + other +
                          "' start-server >/dev/null 2>&1"));
        EmulatedPhone phone(world.Folder("record"));
        ASSERT_NE(phone.Address(), "");
        Shell("'" + other + "' connect " + phone.Address() + " >/dev/null");
        ASSERT_TRUE(world.Init());
        EXPECT_EQ(world.lib.adbPath(), other);
        FakeUsbTree tree;
        tree.CompositePhone("1-1", kSerial);
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] { return world.lib.RunAdb("devices").find("\tdevice") != std::string::npos; },
            20s));
        InstallCompanionApk(world.Services(tree), world.apk);
        EXPECT_EQ(ReadFile(phone.RecordDir() + "/install-1.apk"), ReadFile(world.apk));
        // Our own copy never ran a server beside it.
        for (const auto& process : os::ListProcesses())
            EXPECT_NE(process.imagePath, world.lib.toolDir() + "adb");
    }
    for (const bool atStart : {true, false}) {
        SCOPED_TRACE(atStart ? "another user's server there at start" : "... and later");
        PhoneWorld world;
        SKIP_UNLESS_READY(world);
        std::unique_ptr<testsupport::ForeignListener> foreign;
        if (atStart) foreign = std::make_unique<testsupport::ForeignListener>(5037);
        ASSERT_TRUE(world.Init());
        EmulatedPhone phone(world.Folder("record"));
        FakeUsbTree tree;
        tree.CompositePhone("1-1", kSerial);
        int installed = 0;
        if (!atStart) {
            // First our own server on 5037 serves the phone; it ends, and another user's
            // server takes the port before the next command.
            ASSERT_TRUE(world.Connect(phone));
            InstallCompanionApk(world.Services(tree), world.apk);
            EXPECT_EQ(ReadFile(phone.RecordDir() + "/install-1.apk"), ReadFile(world.apk));
            ++installed;
            world.lib.RunAdb("kill-server");
            ASSERT_TRUE(
                testsupport::WaitUntil([] { return os::ListTcpListeners(5037).empty(); }, 10s));
            foreign = std::make_unique<testsupport::ForeignListener>(5037);
        }
        if (!foreign->Started()) GTEST_SKIP() << "cannot listen as another user here";
        ASSERT_TRUE(world.Connect(phone));
        InstallCompanionApk(world.Services(tree), world.apk);
        EXPECT_EQ(
            ReadFile(phone.RecordDir() + "/install-" + std::to_string(installed + 1) + ".apk"),
            ReadFile(world.apk));
        EXPECT_TRUE(world.lib.UsesOwnServer());
        EXPECT_FALSE(foreign->GotRequest(0ms))
            << "nothing was ever sent to the other user's server";
    }
}

TEST(EmulatedPhone, APhoneThatGoesAwayDuringTheInstallEndsTheCommandAndTheLogSaysSo) {
    PhoneWorld world(8 << 20);
    SKIP_UNLESS_READY(world);
    ASSERT_TRUE(world.Init());
    EmulatedPhone phone(world.Folder("record"), {"--unplug-after", std::to_string(1 << 20)});
    ASSERT_TRUE(world.Connect(phone));
    FakeUsbTree tree;
    tree.CompositePhone("1-1", kSerial);
    std::vector<PhoneWorld::Call> calls;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InstallCompanionApk(world.Services(tree, &calls), world.apk), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_TRUE(phone.Process().Wait(5s).exited) << "the phone went away";
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(ReadFile(phone.RecordDir() + "/install-1.apk"), "");
    const std::string log = world.DiagnosticLog();
    EXPECT_NE(log.find("phone package not installed, trying once more: " + world.apk +
                       ": Performing Push Install / adb: error: failed to copy"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("phone package not installed: " + world.apk), std::string::npos) << log;
}

// The device tree scripts/run --phone mounts for the demo: the program sees one phone there,
// with the serial the emulated phone answers.
TEST(EmulatedPhone, DemoDeviceTreeHoldsOnePhoneWithTheSerialGiven) {
    testsupport::TempDir dir;
    const std::string root = dir.File("tree");
    ASSERT_TRUE(Shell(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/demo/phone/make-usb-tree '" +
                      root + "' " + kSerial));
    CPhoneDetector detector(
        [root] {
            return os::ReadUsbDeviceFacts(root + "/bus", [](const std::string&) { return true; });
        },
        [](const std::string&, const std::string&) {});
    const PhoneList list = detector.ReadPhones();
    ASSERT_EQ(list.phones.size(), 1u);
    EXPECT_EQ(list.phones[0].serial, kSerial);
}
