#include "phone/PhoneDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/TextCase.h"

namespace {

os::UsbDeviceFacts Node(const std::string& id, const std::string& compatible,
                        std::optional<uint32_t> flags = 0, const std::string& parent = {}) {
    os::UsbDeviceFacts facts;
    facts.instanceId = id;
    facts.compatibleId = compatible;
    facts.configFlags = flags;
    facts.parentInstanceId = parent;
    return facts;
}

CPhoneDetector Over(std::vector<os::UsbDeviceFacts> nodes, int* boxes = nullptr) {
    return CPhoneDetector([nodes] { return std::optional(nodes); },
                          [boxes](const std::string&, const std::string&) {
                              if (boxes != nullptr) ++*boxes;
                          });
}

}  // namespace

TEST(PhoneDetectorRules, OrderingTestIsNotAPrefixTest) {
    EXPECT_EQ(CompareNoCaseOrdinal("USB\\VID", "usb\\vid"), 0);
    EXPECT_GT(CompareNoCaseOrdinal("usb\\vid_18d1", "USB\\VID"), 0);
    EXPECT_GT(CompareNoCaseOrdinal("USBSTOR\\DISK", "USB\\VID"), 0);
    EXPECT_LT(CompareNoCaseOrdinal("USB\\ROOT_HUB30\\4&1&0", "USB\\VID"), 0);
    EXPECT_LT(CompareNoCaseOrdinal("PCI\\VEN_8086", "USB\\VID"), 0);

    const std::string bridge = "usb\\Class_ff&SubClass_42&Prot_01";
    auto detector = Over({Node("USB\\VID", bridge), Node("USB\\ROOT_HUB20\\4&1&0", bridge),
                          Node("ROOT\\USB\\0000", bridge), Node("USB\\VID_1234&ADB\\1", bridge)});
    std::vector<PhoneInterface> phones;
    detector.ListPhones(phones, false);
    ASSERT_EQ(phones.size(), 1u);
    EXPECT_EQ(phones[0].instanceId, "USB\\VID_1234&ADB\\1");
}

TEST(PhoneDetectorRules, CompatibleIdsDriverFlagsAndSerials) {
    const std::string parent = "USB\\VID_0BB4&PID_0C02\\HT12345";
    auto detector = Over({
        Node("USB\\VID_0BB4&PID_0C02&MI_01\\6&a&0&0001", "USB\\CLASS_FF&SUBCLASS_42&PROT_03", 4,
             parent),
        Node("USB\\VID_0BB4&PID_0C02&MI_02\\6&a&0&0002", "USB\\Class_02&SubClass_02&Prot_01", 0x20,
             "USB\\VID_0BB5&PID_0001\\X"),
        Node("USB\\VID_0BB4&PID_0C02&MI_03\\6&a&0&0003", "USB\\Class_ff&SubClass_42&Prot_02", 0,
             parent),
        Node("USB\\VID_0BB4&PID_0C02&MI_04\\6&a&0&0004", "USB\\Class_ff&SubClass_42&Prot_01",
             std::nullopt, "USB\\VID_0BB4"),
        Node("USB\\VID_0BB4&PID_0C02&MI_05\\6&a&0&0005", "", 0, parent),
    });
    std::vector<PhoneInterface> phones;
    detector.ListPhones(phones, false);
    ASSERT_EQ(phones.size(), 3u);
    EXPECT_EQ(phones[0].kind, kKindAdb);  // upper-case compatible id still matches
    EXPECT_EQ(phones[0].driverReady, 1);  // manual-install flag counts as ready
    EXPECT_EQ(phones[0].serial, "HT12345");
    EXPECT_EQ(phones[1].kind, kKindModem);
    EXPECT_EQ(phones[1].driverReady, 0);
    EXPECT_EQ(phones[1].serial, "6&a&0&0002");  // parent differs: own last segment
    EXPECT_EQ(phones[2].driverReady, 0);        // flags unreadable
    EXPECT_EQ(phones[2].serial, "VID_0BB4");    // parent id of exactly 12 characters

    EXPECT_EQ(ParentSerial("USB\\VID_0BB4&PID_1\\A", "usb\\VID_0BB4&PID_2\\B"), "");
    EXPECT_EQ(ParentSerial("USB\\VID_0BB4&PID_1\\A", "USB\\VID_0BB4&PID_2\\B"), "B");
    EXPECT_EQ(ParentSerial("USB\\VID_0BB4&PID_1\\A", ""), "");
}

TEST(PhoneDetectorRules, UnreadableHardwareIdEndsTheQueryAndKeepsWhatWasFound) {
    const std::string bridge = "USB\\Class_ff&SubClass_42&Prot_01";
    auto missing = Node("USB\\VID_0001&PID_0001&MI_00\\x", bridge);
    missing.hardwareId = os::HardwareIdRead::Missing;
    auto broken = Node("USB\\VID_0003&PID_0003&MI_00\\z", bridge);
    broken.hardwareId = os::HardwareIdRead::Unreadable;
    auto detector = Over({missing, Node("USB\\VID_0002&PID_0002\\y", bridge), broken,
                          Node("USB\\VID_0004&PID_0004&MI_01\\w", bridge)});
    EXPECT_EQ(detector.Enumerate(), 0);
    std::vector<PhoneInterface> phones;
    detector.ListPhones(phones, true);  // handed over unpruned
    ASSERT_EQ(phones.size(), 1u);
    EXPECT_EQ(phones[0].instanceId, "USB\\VID_0002&PID_0002\\y");
    EXPECT_FALSE(detector.IsPresent("VID_0002"));
}

TEST(PhoneDetectorRules, PruneComparesVendorAndProductOnlyAcrossDevices) {
    const std::string bridge = "USB\\Class_ff&SubClass_42&Prot_01";
    const std::string modem = "USB\\Class_02&SubClass_02&Prot_01";
    int boxes = 0;
    auto detector = Over(
        {
            Node("USB\\VID_1004&PID_633E&MI_02\\6&b&0&0002", modem),   // modem listed first
            Node("usb\\vid_1004&pid_633e&mi_01\\6&b&0&0001", bridge),  // same product, lower case
            Node("USB\\VID_1004&PID_6000&MI_02\\6&c&0&0002", modem),   // another product
            Node("USB\\VID_1004&PID_633E&ADB\\7", modem, 0x40),
        },
        &boxes);
    std::vector<PhoneInterface> phones;
    detector.ListPhones(phones, true);
    ASSERT_EQ(phones.size(), 2u);
    EXPECT_EQ(phones[0].instanceId, "usb\\vid_1004&pid_633e&mi_01\\6&b&0&0001");
    EXPECT_EQ(phones[1].instanceId, "USB\\VID_1004&PID_6000&MI_02\\6&c&0&0002");
    EXPECT_EQ(boxes, 0);
    EXPECT_TRUE(detector.IsPresent("Usb\\Vid_1004&Pid_6000"));
}

namespace {

// The plain rule, restarting from the first record after every removal.
std::vector<PhoneInterface> PrunedByRestartingScan(std::vector<PhoneInterface> list) {
    const auto phone = [](const PhoneInterface& r) {
        const std::string id = AsciiLowerCopy(r.instanceId);
        return id.find("&mi") != id.npos || id.find("&adb") != id.npos ||
               id.find("\\vid_22d9") != id.npos;
    };
    const auto ready = [](const PhoneInterface& r) {
        return r.driverReady == 1 && r.kind == kKindAdb;
    };
    for (bool again = true; again;) {
        again = false;
        for (size_t i = 0; i < list.size() && !again; ++i) {
            size_t drop = phone(list[i]) ? list.size() : i;
            for (size_t j = 0; j < list.size() && drop == list.size(); ++j) {
                if (j == i) continue;
                const auto &a = list[i], &b = list[j];
                if (!phone(b))
                    drop = j;
                else if (a.instanceId == b.instanceId)
                    break;
                else if (AsciiLowerCopy(a.instanceId.substr(0, 21)) !=
                         AsciiLowerCopy(b.instanceId.substr(0, 21)))
                    continue;
                else if (ready(a) && b.kind == kKindModem)
                    drop = j;
                else if (ready(b) && a.kind == kKindModem)
                    drop = i;
            }
            again = drop < list.size();
            if (again) list.erase(list.begin() + static_cast<std::ptrdiff_t>(drop));
        }
    }
    return list;
}

}  // namespace

TEST(PhoneDetectorRules, PruneKeepsWhatTheRestartingScanKeeps) {
    const char* compatible[] = {"USB\\Class_ff&SubClass_42&Prot_01",
                                "USB\\Class_02&SubClass_02&Prot_01"};
    const char* products[] = {"USB\\VID_1004&PID_633E", "usb\\vid_1004&pid_633e",
                              "USB\\VID_22D9&PID_2765", "USB\\VID_1004&PID_6000"};
    const char* tails[] = {"&MI_01\\6&b&1", "&MI_02\\6&b&2", "\\SERIAL", "&ADB\\7", "&MI_01\\6&c"};
    const std::optional<uint32_t> flags[] = {0, 4, 0x40, std::nullopt};
    std::mt19937 random(3);
    for (int round = 0; round < 3000; ++round) {
        std::vector<os::UsbDeviceFacts> nodes;
        for (size_t n = random() % 10; n > 0; --n)
            nodes.push_back(Node(std::string(products[random() % 4]) + tails[random() % 5],
                                 compatible[random() % 2], flags[random() % 4]));
        std::vector<PhoneInterface> unpruned, pruned;
        Over(nodes).ListPhones(unpruned, false);
        const auto expected = PrunedByRestartingScan(unpruned);
        int boxes = 0;
        Over(nodes, &boxes).ListPhones(pruned, true);
        ASSERT_EQ(pruned.size(), expected.size()) << "round " << round;
        int duplicated = 0;
        for (size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(pruned[k].instanceId, expected[k].instanceId) << "round " << round;
            EXPECT_EQ(pruned[k].kind, expected[k].kind) << "round " << round;
            duplicated += std::count_if(expected.begin(), expected.end(), [&](const auto& e) {
                              return e.instanceId == expected[k].instanceId;
                          }) > 1;
        }
        // One report per record that has an identical twin, however many restarts it took.
        EXPECT_EQ(boxes, unpruned.empty() ? 0 : duplicated) << "round " << round;
    }
}
