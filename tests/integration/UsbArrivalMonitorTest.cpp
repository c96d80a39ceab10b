#include "os/UsbArrivalMonitor.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ChildRun.h"
#include "os/GuiThread.h"

using namespace std::chrono_literals;

namespace {

// Asks the kernel to announce the loopback interface again with `action`.
bool Announce(const char* action) {
    std::ofstream uevent("/sys/class/net/lo/uevent");
    uevent << action << "\n";
    uevent.flush();
    return static_cast<bool>(uevent);
}

// Whether this process runs in another network namespace than the one /sys shows (as inside
// `unshare -n`): the kernel then announces the interface there, and nothing reaches us.
bool InAnotherNetworkNamespace() {
    std::set<std::string> ours;
    std::ifstream dev("/proc/net/dev");
    for (std::string line; std::getline(dev, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const auto start = line.find_first_not_of(' ');
        ours.insert(line.substr(start, colon - start));
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net", error)) {
        if (ours.count(entry.path().filename().string()) == 0) return true;
    }
    return false;
}

}  // namespace

TEST(UsbArrivalMonitor, EachAddBecomesOneCallOnTheMainLoop) {
    std::atomic<int> arrivals{0};
    bool onGuiThread = true;
    os::UsbArrivalMonitor monitor(
        [&] {
            ++arrivals;
            onGuiThread = onGuiThread && os::IsGuiThread();
        },
        "net");
    ASSERT_TRUE(monitor.IsWatching());
    if (InAnotherNetworkNamespace())
        GTEST_SKIP() << "in a private network namespace the kernel announces /sys's interfaces "
                        "elsewhere: no event can reach this process";
    os::UsbArrivalMonitor usbMonitor([] {});
    EXPECT_TRUE(usbMonitor.IsWatching());

    bool announced = false;
    std::thread announcer([&] {
        announced = Announce("change") && Announce("add") && Announce("add");
        // Waiting for the two calls, not for a fixed time, keeps a busy machine from failing.
        if (announced) testsupport::WaitUntil([&] { return arrivals.load() >= 2; }, 60s);
        os::PostToGuiThread([] { os::QuitGuiLoop(0); });
    });
    os::RunGuiLoop();
    announcer.join();
    if (!announced) GTEST_SKIP() << "this system does not let us announce device events";
    EXPECT_EQ(arrivals.load(), 2);
    EXPECT_TRUE(onGuiThread);
}
