// Phone detection over a device tree of 200 devices against lsusb. lsusb cannot be pointed at
// a made-up tree, so it lists this machine's real devices: the ratio compares two different
// trees and only says whether a detection pass costs about as much as one lsusb run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "FakeUsbTree.h"
#include "os/UsbFacts.h"
#include "phone/PhoneDetector.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double MedianMicroseconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// User + system time of this process (RUSAGE_SELF) or of its ended children, in microseconds:
// on a busy machine wall time mostly measures the wait for a CPU.
double CpuMicroseconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

double MeanCpuMicroseconds(int who, int runs, const std::function<void()>& work) {
    const double start = CpuMicroseconds(who);
    for (int i = 0; i < runs; ++i) work();
    return (CpuMicroseconds(who) - start) / runs;
}

bool RunQuietly(const char* program) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid = 0;
    const bool started = posix_spawnp(&pid, program, &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return started && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
}

// 4 root hubs, each with a hub holding 49 devices: every fourth a composite phone (media,
// bridge, modem), the rest storage sticks, keyboards and single-interface serial adapters.
void BuildTree(FakeUsbTree& tree) {
    int devices = 0;
    for (int bus = 1; bus <= 4; ++bus) {
        const std::string b = std::to_string(bus);
        tree.RootHub("usb" + b);
        const std::string hub = b + "-1";
        tree.Device(hub, "05e3", "0610", "", "09", 2);
        tree.Interface(hub, 0, "09", "00", "00", true);
        ++devices;
        for (int port = 1; port <= 49; ++port, ++devices) {
            const std::string name = hub + "." + std::to_string(port);
            const int devnum = 2 + port;
            switch (port % 4) {
                case 0:
                    tree.CompositePhone(name, "PHONE" + b + "X" + std::to_string(port), devnum);
                    break;
                case 1:
                    tree.Device(name, "0781", "5567", "DISK" + std::to_string(port), "00", devnum);
                    tree.Interface(name, 0, "08", "06", "50", true);
                    tree.StorageUnit(name + ":1.0", "SanDisk", "Cruzer Blade");
                    break;
                case 2:
                    tree.Device(name, "046d", "c31c", "", "00", devnum);
                    tree.Interface(name, 0, "03", "01", "01", true);
                    tree.Interface(name, 1, "03", "00", "00", true);
                    break;
                default:
                    tree.Device(name, "0403", "6001", "FT" + std::to_string(port), "00", devnum);
                    tree.Interface(name, 0, "ff", "ff", "ff", true);
            }
        }
    }
    std::printf("fake tree: %d devices (plus 4 root hubs)\n", devices);
}

}  // namespace

int main() {
    FakeUsbTree tree;
    BuildTree(tree);
    const std::string root = tree.Root();
    int boxes = 0;
    CPhoneDetector detector(
        [root] { return os::ReadUsbDeviceFacts(root, [](const std::string&) { return true; }); },
        [&boxes](const std::string&, const std::string&) { ++boxes; });
    std::vector<PhoneInterface> phones;
    detector.ListPhones(phones, true);
    std::printf("phones found: %zu (expected 48), message boxes: %d\n", phones.size(), boxes);

    const int runs = 101;
    const double listPhones = MedianMicroseconds(runs, [&] { detector.ListPhones(phones, true); });
    const double factsOnly = MedianMicroseconds(runs, [&] { (void)os::ReadUsbDeviceFacts(root); });
    std::printf("ListPhones (Enumerate + Prune), median of %d: %.0f us\n", runs, listPhones);
    std::printf("  of which reading the sysfs facts: %.0f us\n", factsOnly);

    if (!RunQuietly("lsusb")) {
        std::printf("lsusb: not available, no ratio\n");
        return 0;
    }
    const double lsusb = MedianMicroseconds(31, [] { RunQuietly("lsusb"); });
    std::printf("lsusb on this machine's /sys (process start included), median of 31: %.0f us\n",
                lsusb);
    std::printf("ratio ListPhones(200-device tree) / lsusb(real tree): %.2f\n", listPhones / lsusb);

    const double listPhonesCpu =
        MeanCpuMicroseconds(RUSAGE_SELF, runs, [&] { detector.ListPhones(phones, true); });
    const double lsusbCpu = MeanCpuMicroseconds(RUSAGE_CHILDREN, 31, [] { RunQuietly("lsusb"); });
    std::printf("CPU time, mean: ListPhones %.0f us, lsusb %.0f us, ratio %.2f\n", listPhonesCpu,
                lsusbCpu, listPhonesCpu / lsusbCpu);
    return 0;
}
