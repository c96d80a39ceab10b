#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "FakeUsbTree.h"
#include "os/UsbFacts.h"
#include "phone/PhoneDetector.h"

namespace fs = std::filesystem;

namespace {

struct Recorded {
    std::vector<std::string> deviceFiles;
    std::vector<std::pair<std::string, std::string>> boxes;
};

CPhoneDetector DetectorOver(const FakeUsbTree& tree, Recorded& recorded, bool canOpen = true) {
    const std::string root = tree.Root();
    return CPhoneDetector(
        [root, &recorded, canOpen] {
            return os::ReadUsbDeviceFacts(root, [&recorded, canOpen](const std::string& file) {
                recorded.deviceFiles.push_back(file);
                return canOpen;
            });
        },
        [&recorded](const std::string& text, const std::string& caption) {
            recorded.boxes.emplace_back(text, caption);
        });
}

std::vector<PhoneInterface> Phones(CPhoneDetector& detector, bool prune = true) {
    std::vector<PhoneInterface> phones{PhoneInterface{"stale", "stale", 0, 0}};
    detector.ListPhones(phones, prune);
    return phones;
}

const os::UsbDeviceFacts* Find(const std::vector<os::UsbDeviceFacts>& facts,
                               const std::string& idStart) {
    for (const auto& f : facts) {
        if (f.instanceId.rfind(idStart, 0) == 0) return &f;
    }
    return nullptr;
}

}  // namespace

TEST(UsbFacts, CompositePhoneIsWrittenInWindowsForm) {
    FakeUsbTree tree;
    tree.RootHub("usb1");
    tree.CompositePhone("1-1", "0123456789ABCDEF", 7);
    const auto facts = os::ReadUsbDeviceFacts(
        tree.Root(), [](const std::string& file) { return file == "/dev/bus/usb/001/007"; });
    ASSERT_TRUE(facts);
    ASSERT_EQ(facts->size(), 6u);  // root hub (its own interface is no node), the phone, four

    const auto* hub = Find(*facts, "USB\\ROOT_HUB20\\");
    const auto* phone = Find(*facts, "USB\\VID_18D1&PID_4EE2\\");
    const auto* bridge = Find(*facts, "USB\\VID_18D1&PID_4EE2&MI_01\\");
    const auto* modem = Find(*facts, "USB\\VID_18D1&PID_4EE2&MI_02\\");
    ASSERT_TRUE(hub && phone && bridge && modem);
    EXPECT_EQ(phone->instanceId, "USB\\VID_18D1&PID_4EE2\\0123456789ABCDEF");
    EXPECT_EQ(phone->parentInstanceId, hub->instanceId);
    EXPECT_EQ(phone->compatibleId, "USB\\DevClass_00&SubClass_00&Prot_00");
    EXPECT_TRUE(std::regex_match(
        bridge->instanceId, std::regex(R"(USB\\VID_18D1&PID_4EE2&MI_01\\6&[0-9a-f]{8}&0&0001)")));
    EXPECT_EQ(bridge->parentInstanceId, phone->instanceId);
    EXPECT_EQ(bridge->compatibleId, "USB\\Class_ff&SubClass_42&Prot_01");
    EXPECT_EQ(bridge->configFlags, os::kConfigFlagsDriverReady);
    EXPECT_EQ(modem->compatibleId, "USB\\Class_02&SubClass_02&Prot_01");
    EXPECT_EQ(modem->configFlags, os::kConfigFlagsDriverReady);
    EXPECT_EQ(bridge->hardwareId, os::HardwareIdRead::Readable);

    // Without a serial the id is built from the port, the same on every read.
    FakeUsbTree bare;
    bare.Device("2-1.4", "12d1", "1038", "", "00");
    bare.Interface("2-1.4", 0, "ff", "42", "01", false);
    const auto first =
        os::ReadUsbDeviceFacts(bare.Root(), [](const std::string&) { return false; });
    const auto second = os::ReadUsbDeviceFacts(bare.Root());
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->size(), 1u);
    EXPECT_TRUE(std::regex_match(first->front().instanceId,
                                 std::regex(R"(USB\\VID_12D1&PID_1038\\5&[0-9a-f]{8}&0&4)")));
    EXPECT_EQ(first->front().instanceId, second->front().instanceId);
    EXPECT_EQ(first->front().configFlags, os::kConfigFlagsFailedInstall);
    EXPECT_FALSE(os::ReadUsbDeviceFacts(bare.Root() + "/missing"));

    // A node that tells nothing about itself has no hardware id and is passed over.
    fs::create_directories(fs::path(bare.Root()) / "2-2");
    const auto withBlank = os::ReadUsbDeviceFacts(bare.Root());
    ASSERT_TRUE(withBlank);
    ASSERT_EQ(withBlank->size(), 2u);
    EXPECT_EQ(withBlank->at(1).hardwareId, os::HardwareIdRead::Missing);
    EXPECT_EQ(withBlank->at(0).hardwareId, os::HardwareIdRead::Readable);
}

TEST(PhoneDetection, CompositePhoneWithReadyBridgeDropsItsModem) {
    FakeUsbTree tree;
    tree.RootHub("usb1");
    tree.CompositePhone("1-1", "0123456789ABCDEF");
    Recorded recorded;
    auto detector = DetectorOver(tree, recorded, true);

    const auto all = Phones(detector, false);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].kind, kKindModem);
    EXPECT_EQ(all[1].serial, "0123456789ABCDEF");
    EXPECT_EQ(all[1].driverReady, 1);

    const auto phones = Phones(detector);
    ASSERT_EQ(phones.size(), 1u);
    EXPECT_EQ(phones[0].kind, kKindAdb);
    EXPECT_EQ(phones[0].serial, "0123456789ABCDEF");
    EXPECT_EQ(phones[0].driverReady, 1);
    EXPECT_EQ(phones[0].instanceId.substr(0, 28), "USB\\VID_18D1&PID_4EE2&MI_01\\");
    EXPECT_EQ(recorded.deviceFiles.front(), "/dev/bus/usb/001/005");
    EXPECT_TRUE(recorded.boxes.empty());

    EXPECT_TRUE(detector.IsPresent(phones[0].instanceId));
    EXPECT_TRUE(detector.IsPresent("usb\\vid_18d1&pid_4ee2&mi_01"));
    EXPECT_FALSE(detector.IsPresent("&MI_02"));  // the modem was pruned away
    EXPECT_FALSE(detector.IsPresent("VID_0BB4"));
}

// The shapes of a real bus: root hubs with their own interface, a phone whose modem brings its
// data interface, a tethering phone whose interfaces an association ties together (device class
// ef), every entry a link. Exactly the bridge interfaces are phones.
TEST(PhoneDetection, RealBusShapesYieldExactlyTheBridgeInterfaces) {
    FakeUsbTree tree;
    tree.RootHub("usb1");
    tree.RootHub("usb2", "3.00");
    tree.CompositePhone("1-1", "PHONEA", 5);
    tree.TetheringPhone("2-1", "PHONEB", 6);
    ASSERT_TRUE(fs::is_symlink(fs::path(tree.Root()) / "2-1:1.2"));
    ASSERT_TRUE(fs::exists(fs::path(tree.Root()) / "1-0:1.0/uevent"));

    const auto facts = os::ReadUsbDeviceFacts(tree.Root(), [](const std::string&) { return true; });
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->size(), 11u);  // two hubs, two phones with four and three interfaces
    const auto* tethering = Find(*facts, "USB\\VID_18D1&PID_4EE4\\");
    ASSERT_TRUE(tethering);
    EXPECT_EQ(tethering->compatibleId, "USB\\DevClass_ef&SubClass_02&Prot_01");

    Recorded recorded;
    auto detector = DetectorOver(tree, recorded, true);
    const auto all = Phones(detector, false);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].kind, kKindModem);
    const auto phones = Phones(detector);
    ASSERT_EQ(phones.size(), 2u);
    EXPECT_EQ(phones[0].instanceId.substr(0, 28), "USB\\VID_18D1&PID_4EE2&MI_01\\");
    EXPECT_EQ(phones[0].serial, "PHONEA");
    EXPECT_EQ(phones[1].instanceId.substr(0, 28), "USB\\VID_18D1&PID_4EE4&MI_02\\");
    EXPECT_EQ(phones[1].serial, "PHONEB");
    EXPECT_EQ(phones[1].kind, kKindAdb);
    EXPECT_EQ(phones[1].driverReady, 1);
    EXPECT_NE(
        std::find(recorded.deviceFiles.begin(), recorded.deviceFiles.end(), "/dev/bus/usb/002/006"),
        recorded.deviceFiles.end());
}

TEST(PhoneDetection, BridgeWithoutUsableDeviceFileKeepsBothInterfaces) {
    FakeUsbTree tree;
    tree.RootHub("usb1");
    tree.CompositePhone("1-1", "SER1");
    tree.Device("1-2", "18d1", "4ee2", "SER2", "00", 9);  // a second phone, also not ready
    tree.Interface("1-2", 1, "ff", "42", "01", false);
    tree.Interface("1-2", 2, "02", "02", "01", false);  // modem without its driver
    Recorded recorded;
    auto detector = DetectorOver(tree, recorded, false);

    const auto phones = Phones(detector);
    ASSERT_EQ(phones.size(), 4u);
    EXPECT_EQ(phones[0].serial, "SER1");
    EXPECT_EQ(phones[0].driverReady, 0);
    EXPECT_EQ(phones[1].kind, kKindModem);
    EXPECT_EQ(phones[1].driverReady, 1);
    EXPECT_EQ(phones[2].serial, "SER2");
    EXPECT_EQ(phones[3].kind, kKindModem);
    EXPECT_EQ(phones[3].driverReady, 0);
    EXPECT_TRUE(detector.IsPresent("&MI_02"));
}

TEST(PhoneDetection, SingleInterfaceDevicesNeedVendor22D9) {
    FakeUsbTree tree;
    tree.RootHub("usb1");
    tree.Device("1-1", "05e3", "0610", "", "09");  // a hub
    tree.Interface("1-1", 0, "09", "00", "00", true);
    tree.Device("1-1.1", "18d1", "d00d", "FASTBOOT1");  // another vendor's bootloader
    tree.Interface("1-1.1", 0, "ff", "42", "03", false);
    tree.Device("1-1.2", "22d9", "2765", "BRIDGE22");
    tree.Interface("1-1.2", 0, "ff", "42", "01", false);
    tree.Device("1-1.3", "22d9", "276a", "MODEM22");
    tree.Interface("1-1.3", 0, "02", "02", "01", true);
    tree.Device("1-1.4", "1199", "9071", "MODEMX");
    tree.Interface("1-1.4", 0, "02", "02", "01", true);
    Recorded recorded;
    auto detector = DetectorOver(tree, recorded, true);

    const auto all = Phones(detector, false);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].instanceId, "USB\\VID_18D1&PID_D00D\\FASTBOOT1");
    EXPECT_EQ(all[0].serial, "");  // the parent is the hub, another vendor
    EXPECT_EQ(all[3].serial, "MODEMX");

    const auto phones = Phones(detector);
    ASSERT_EQ(phones.size(), 2u);
    EXPECT_EQ(phones[0].instanceId, "USB\\VID_22D9&PID_2765\\BRIDGE22");
    EXPECT_EQ(phones[0].kind, kKindAdb);
    EXPECT_EQ(phones[0].serial, "");
    EXPECT_EQ(phones[0].driverReady, 1);
    EXPECT_EQ(phones[1].instanceId, "USB\\VID_22D9&PID_276A\\MODEM22");
    EXPECT_EQ(phones[1].kind, kKindModem);
    EXPECT_EQ(phones[1].serial, "MODEM22");  // its own last id segment
    EXPECT_TRUE(recorded.boxes.empty());
}

TEST(PhoneDetection, StorageAndHubsAreNoPhones) {
    FakeUsbTree tree;
    tree.RootHub("usb2", "3.00");
    tree.Device("2-1", "0781", "5567", "4C530001", "00");
    tree.Interface("2-1", 0, "08", "06", "50", true);
    tree.StorageUnit("2-1:1.0", "SanDisk ", "Cruzer Blade    ");
    const auto facts = os::ReadUsbDeviceFacts(tree.Root());
    ASSERT_TRUE(facts);
    const auto* disk = Find(*facts, "USBSTOR\\");
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->instanceId, "USBSTOR\\DISK&VEN_SanDisk&PROD_Cruzer_Blade&REV_1.00\\4C530001&0");
    EXPECT_EQ(disk->compatibleId, "USBSTOR\\Disk");
    EXPECT_EQ(disk->parentInstanceId, "USB\\VID_0781&PID_5567\\4C530001");
    EXPECT_TRUE(Find(*facts, "USB\\ROOT_HUB30\\"));
    EXPECT_GT(CompareNoCaseOrdinal(disk->instanceId, "USB\\VID"), 0);

    Recorded recorded;
    auto detector = DetectorOver(tree, recorded);
    EXPECT_EQ(detector.Enumerate(), 0);
    EXPECT_TRUE(Phones(detector).empty());
    EXPECT_FALSE(detector.IsPresent(""));
}

TEST(PhoneDetection, IdenticalInstanceIdsAreReportedAndKept) {
    FakeUsbTree tree;
    tree.RootHub("usb1");
    tree.Device("1-1", "22d9", "2765", "SAMESERIAL", "00", 5);
    tree.Interface("1-1", 0, "ff", "42", "01", false);
    tree.Device("1-2", "22d9", "2765", "SAMESERIAL", "00", 6);
    tree.Interface("1-2", 0, "ff", "42", "01", false);
    Recorded recorded;
    auto detector = DetectorOver(tree, recorded);

    const auto phones = Phones(detector);
    ASSERT_EQ(phones.size(), 2u);
    EXPECT_EQ(phones[0].instanceId, phones[1].instanceId);
    // Each of the pair meets the other once in the pass.
    ASSERT_EQ(recorded.boxes.size(), 2u);
    EXPECT_EQ(recorded.boxes[0].first, "很神奇,实例貌似一样哇!快找我们的技术看看是咋了?");
    EXPECT_EQ(recorded.boxes[0].second, "Lanternhall");
}

TEST(PhoneDetection, NoDevicesFolderMeansNothingAttached) {
    Recorded recorded;
    CPhoneDetector detector([] { return os::ReadUsbDeviceFacts("/nonexistent/usb/devices"); },
                            [&recorded](const std::string& t, const std::string& c) {
                                recorded.boxes.emplace_back(t, c);
                            });
    EXPECT_EQ(detector.Enumerate(), 0);
    EXPECT_TRUE(Phones(detector).empty());
    EXPECT_FALSE(detector.IsPresent("USB"));
}
