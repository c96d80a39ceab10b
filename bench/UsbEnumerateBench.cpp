// Phone listing (ListPhones: reading the device facts, then Prune) over fake device trees of 100
// and 1,000 devices, against reading every file of the same tree once (a plain recursive walk
// that opens and reads each regular file, links not followed): the least any listing that
// looks at every device must do. Both run in this process; sides alternate, each timed over a
// batch of calls and shown per call.
// Then one device arrival's pass (list the phones, judge each one's presence, check the process
// list per present phone) over the program's one shared detector, against the way arrivals were
// handled before: a detector built for the arrival that reads the tree again for every listed
// interface. Shown with the reads of the device tree each side makes per arrival, with the
// process check left out (what changed is the tree reading) and, on the small tree, with it.
//   UsbEnumerateBench [rounds]
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "FakeUsbTree.h"
#include "mainpanel/CompanionApp.h"
#include "mainpanel/CompanionServices.h"
#include "os/UsbFacts.h"
#include "phone/PhoneDetector.h"

namespace {

// Root hubs with hubs of 49 devices each: every fourth a composite phone (media, bridge and
// modem interfaces; every other phone's bridge has its driver, so its modem is pruned), the
// rest storage sticks, keyboards and single-interface serial adapters.
int BuildTree(FakeUsbTree& tree, int wanted) {
    int devices = 0;
    for (int bus = 1; devices < wanted; ++bus) {
        const std::string b = std::to_string(bus);
        tree.RootHub("usb" + b);
        const std::string hub = b + "-1";
        tree.Device(hub, "05e3", "0610", "", "09", 2);
        tree.Interface(hub, 0, "09", "00", "00", true);
        ++devices;
        for (int port = 1; port <= 49 && devices < wanted; ++port, ++devices) {
            const std::string name = hub + "." + std::to_string(port);
            const int devnum = 2 + port;
            switch (port % 4) {
                case 0:
                    tree.Device(name, "18d1", "4ee2", "PHONE" + b + "X" + std::to_string(port),
                                "00", devnum);
                    tree.Interface(name, 0, "ff", "ff", "00", true);
                    tree.Interface(name, 1, "ff", "42", "01", port % 8 == 0);
                    tree.Interface(name, 2, "02", "02", "01", true);
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
    return devices;
}

// Reads every regular file below `folder` once; the bytes read.
size_t ReadEveryFile(const std::string& folder) {
    size_t total = 0;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return 0;
    char buffer[4096];
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            total += ReadEveryFile(path);
        } else if (S_ISREG(info.st_mode)) {
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            ssize_t n = 0;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) total += static_cast<size_t>(n);
            close(fd);
        }
    }
    closedir(dir);
    return total;
}

void Compare(int wanted, int rounds, int batch) {
    FakeUsbTree tree;
    const int devices = BuildTree(tree, wanted);
    const std::string root = tree.Root();
    // Root() holds only links, as /sys/bus/usb/devices does; the files are in the nested folders.
    const std::string nested = root + "/../devices";
    int boxes = 0;
    CPhoneDetector detector(
        [root] { return os::ReadUsbDeviceFacts(root, [](const std::string&) { return true; }); },
        [&boxes](const std::string&, const std::string&) { ++boxes; });
    std::vector<PhoneInterface> phones;
    detector.ListPhones(phones, true);
    std::printf("fake tree of %d devices: %zu phone interfaces listed, %d message boxes\n", devices,
                phones.size(), boxes);
    auto series = bench::Alternate(
        rounds,
        [&] {
            return bench::RunHere([&] {
                for (int i = 0; i < batch; ++i) detector.ListPhones(phones, true);
                return !phones.empty();
            });
        },
        [&] {
            return bench::RunHere([&] {
                size_t bytes = 0;
                for (int i = 0; i < batch; ++i) bytes += ReadEveryFile(nested);
                return bytes > 0;
            });
        });
    if (!series) return;
    for (auto* side : {&series->ours, &series->peer})
        for (auto& cost : *side) cost = {cost.wall / batch, cost.cpu / batch};
    bench::Print("phone listing, " + std::to_string(devices) + " devices, per call", "ListPhones",
                 "read every file once", *series);
}

using ProcessCheck = std::function<bool(const std::string&)>;

// An arrival as handled before: a detector of its own, the list, then IsPresent per listed
// interface, each of which reads the whole tree again.
int ArrivalBefore(const CPhoneDetector::FactsSource& facts, const ProcessCheck& running) {
    auto detector =
        std::make_shared<CPhoneDetector>(facts, [](const std::string&, const std::string&) {});
    CompanionServices s;
    s.listPhoneInstanceIds = [detector] {
        std::vector<PhoneInterface> phones;
        detector->ListPhones(phones, true);
        std::vector<std::string> ids;
        for (const auto& phone : phones) ids.push_back(phone.instanceId);
        return ids;
    };
    s.isPresent = [detector](const std::string& id) { return detector->IsPresent(id); };
    s.isProcessRunning = running;
    return OnDeviceArrival(s, [] {});
}

int ArrivalNow(const std::shared_ptr<CSharedPhoneDetector>& phones, const ProcessCheck& running) {
    auto s = RealCompanionServices(phones);
    s.isProcessRunning = running;
    return OnDeviceArrival(s, [] {});
}

void CompareArrival(int wanted, int rounds, int batch, bool withProcesses) {
    FakeUsbTree tree;
    const int devices = BuildTree(tree, wanted);
    const std::string root = tree.Root();
    int reads = 0;
    const CPhoneDetector::FactsSource facts = [root, &reads] {
        ++reads;
        return os::ReadUsbDeviceFacts(root, [](const std::string&) { return true; });
    };
    auto phones = std::make_shared<CSharedPhoneDetector>(
        std::make_shared<CPhoneDetector>(facts, [](const std::string&, const std::string&) {}));
    const ProcessCheck running = withProcesses
                                     ? RealCompanionServices(phones).isProcessRunning
                                     : ProcessCheck([](const std::string&) { return false; });

    reads = 0;
    const int starts = ArrivalNow(phones, running);
    const int readsNow = reads;
    reads = 0;
    const int startsBefore = ArrivalBefore(facts, running);
    std::printf(
        "fake tree of %d devices: %d companion starts decided (before: %d); device tree "
        "read %d time(s) per arrival (before: %d)\n",
        devices, starts, startsBefore, readsNow, reads);
    auto series = bench::Alternate(
        rounds,
        [&] {
            return bench::RunHere([&] {
                int n = 0;
                for (int i = 0; i < batch; ++i) n += ArrivalNow(phones, running);
                return n > 0;
            });
        },
        [&] {
            return bench::RunHere([&] {
                int n = 0;
                for (int i = 0; i < batch; ++i) n += ArrivalBefore(facts, running);
                return n > 0;
            });
        });
    if (!series) return;
    for (auto* side : {&series->ours, &series->peer})
        for (auto& cost : *side) cost = {cost.wall / batch, cost.cpu / batch};
    bench::Print("one arrival's pass, " + std::to_string(devices) + " devices" +
                     (withProcesses ? ", process list included" : "") + ", per arrival",
                 "one read, one detector", "read per interface", *series);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    Compare(100, rounds, 20);
    Compare(1000, rounds, 4);
    CompareArrival(6, rounds, 200, false);  // a desk with one phone attached
    CompareArrival(6, rounds, 50, true);
    CompareArrival(100, rounds, 10, false);
    return 0;
}
