#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Facts about the present USB device nodes, written the way Windows names them so that the
// phone-matching rules read the same on every platform:
//   device            USB\VID_18D1&PID_4EE7\<serial, or 5&<hash>&0&<port> without one>
//   composite's part  USB\VID_18D1&PID_4EE7&MI_01\6&<hash>&0&0001
//   root hub          USB\ROOT_HUB30\4&<hash>&0
//   storage unit      USBSTOR\DISK&VEN_<vendor>&PROD_<model>&REV_<rev>\<serial>&<lun>
// A device with several interfaces and no class of its own (or the interface-association
// class) is composite: each interface is a node of its own, child of the device. Any other
// device is one node that takes its class (or its only interface's class) and whose parent is
// its hub.
namespace os {

enum class HardwareIdRead {
    Readable,
    Missing,     // the node has none; such nodes are passed over
    Unreadable,  // present but could not be read; an enumeration gives up
};

// The two configuration-flag values this layer reports.
inline constexpr uint32_t kConfigFlagsDriverReady = 0;
inline constexpr uint32_t kConfigFlagsFailedInstall = 0x40;
// A driver the user installed by hand: as ready as one installed the usual way.
inline constexpr uint32_t kConfigFlagsManualInstall = 0x4;

struct UsbDeviceFacts {
    std::string instanceId;
    HardwareIdRead hardwareId = HardwareIdRead::Readable;
    // First compatible id: USB\Class_ff&SubClass_42&Prot_01 (hex digits lower-case), or
    // USB\DevClass_00&SubClass_00&Prot_00 for a composite device, USBSTOR\Disk for storage.
    std::string compatibleId;
    // Driver-ready (0) when a bridge-class node's device file can be opened by this user, or
    // when a kernel driver is bound to any other node; 0x40 otherwise.
    std::optional<uint32_t> configFlags;
    std::string parentInstanceId;  // empty for a root hub
};

// Whether this user may open the USB device file `deviceFile` for reading and writing.
using DeviceFileCheck = std::function<bool(const std::string& deviceFile)>;
bool CanOpenDeviceFile(const std::string& deviceFile);

// Every USB node attached to this computer, devices in name order, each followed by its own
// nodes. Nothing when the system's device tree cannot be read.
std::optional<std::vector<UsbDeviceFacts>> ReadUsbDeviceFacts();

// The same over `devicesFolder`, a folder laid out as the system's device tree (a copy of it in
// tests), with `canOpen` telling which device files this user may open.
std::optional<std::vector<UsbDeviceFacts>> ReadUsbDeviceFacts(
    const std::string& devicesFolder, const DeviceFileCheck& canOpen = CanOpenDeviceFile);

}  // namespace os
