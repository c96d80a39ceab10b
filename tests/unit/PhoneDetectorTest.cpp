#include "phone/PhoneDetector.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(phones[0].kind, KIND_ADB);  // upper-case compatible id still matches
    EXPECT_EQ(phones[0].driverReady, 1);  // manual-install flag counts as ready
    EXPECT_EQ(phones[0].serial, "HT12345");
    EXPECT_EQ(phones[1].kind, KIND_MODEM);
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
