#include "os/UsbArrivalMonitor.h"

#include <atomic>
#include <chrono>
#include <fstream>
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
