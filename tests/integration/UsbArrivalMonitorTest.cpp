#include "os/UsbArrivalMonitor.h"

#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "os/GuiThread.h"

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
    int arrivals = 0;
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
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        os::PostToGuiThread([] { os::QuitGuiLoop(0); });
    });
    os::RunGuiLoop();
    announcer.join();
    if (!announced) GTEST_SKIP() << "this system does not let us announce device events";
    EXPECT_EQ(arrivals, 2);
    EXPECT_TRUE(onGuiThread);
}
