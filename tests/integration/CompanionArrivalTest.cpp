// A device arrival over a copy of the USB device tree and the real process list: the companion
// program is started for an attached phone only while no process of its name runs.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>

#include "ChildRun.h"
#include "FakeUsbTree.h"
#include "TempDir.h"
#include "mainpanel/CompanionApp.h"
#include "mainpanel/CompanionServices.h"
#include "os/ProcFs.h"
#include "os/UsbFacts.h"
#include "phone/PhoneDetector.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

CompanionServices ServicesOver(const FakeUsbTree& tree) {
    const std::string root = tree.Root();
    auto detector = std::make_shared<CPhoneDetector>(
        [root] { return os::ReadUsbDeviceFacts(root, [](const std::string&) { return true; }); },
        [](const std::string&, const std::string&) {});
    return RealCompanionServices(detector);
}

TEST(CompanionArrival, StartsForAnAttachedPhoneOnlyWhileTheProgramIsNotRunning) {
    FakeUsbTree tree;
    tree.RootHub("usb1");
    int starts = 0;
    CCompanionArrivals arrivals;
    auto start = [&] { ++starts; };

    EXPECT_EQ(arrivals.OnArrival(ServicesOver(tree), start), 0) << "no phone attached";

    tree.CompositePhone("1-1", "0123456789ABCDEF", 7);
    EXPECT_GE(arrivals.OnArrival(ServicesOver(tree), start), 1);
    EXPECT_EQ(arrivals.OnArrival(ServicesOver(tree), start), 0)
        << "the phone's further announcements start nothing while its task runs";
    while (arrivals.TasksRunning() > 0) arrivals.TaskFinished();

    // The companion program runs (its image name in any case): nothing is started.
    testsupport::TempDir dir;
    const std::string image = dir.File("LanternHall.EXE");
    fs::copy_file("/bin/sleep", image);
    testsupport::ChildProcess running({image, "30"});
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            for (const auto& p : os::ListProcesses())
                if (p.pid == running.pid() && p.imageName == "LanternHall.EXE") return true;
            return false;
        },
        5s));
    const int before = starts;
    EXPECT_EQ(arrivals.OnArrival(ServicesOver(tree), start), 0);
    EXPECT_EQ(starts, before);

    running.Signal(SIGKILL);
    running.Wait(5s);
    EXPECT_GE(arrivals.OnArrival(ServicesOver(tree), start), 1);
    while (arrivals.TasksRunning() > 0) arrivals.TaskFinished();

    // Started through an interpreter, the program's process is the interpreter's; it counts by
    // its script's name all the same.
    const std::string script = dir.File("lanternhall.exe");
    testsupport::WriteFile(script, "#!/bin/sh\nsleep 30\n");
    fs::permissions(script, fs::perms::owner_all);
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{script}, {"sh", "-e", script}}) {
        testsupport::ChildProcess interpreted(argv);
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] { return ServicesOver(tree).isProcessRunning("lanternhall.exe"); }, 5s));
        EXPECT_EQ(arrivals.OnArrival(ServicesOver(tree), start), 0);
    }
}

// A companion program that has ended but is not collected yet (its parent is slow, or an init
// that reaps late) is not running: a phone's arrival starts it again.
TEST(CompanionArrival, AnEndedButUncollectedProgramDoesNotCount) {
    FakeUsbTree tree;
    tree.CompositePhone("1-1", "0123456789ABCDEF", 7);
    testsupport::TempDir dir;
    const std::string image = dir.File("lanternhall.exe");
    fs::copy_file("/bin/true", image);
    const pid_t child = fork();
    if (child == 0) {
        execl(image.c_str(), image.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    const bool ended = testsupport::WaitUntil(
        [&] {
            siginfo_t info{};
            return waitid(P_PID, child, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == child;
        },
        5s);
    const bool running = ServicesOver(tree).isProcessRunning("lanternhall.exe");
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(running);
}

}  // namespace
