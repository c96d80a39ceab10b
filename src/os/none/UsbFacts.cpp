#include "os/UsbFacts.h"

// No platform: the USB devices cannot be read.
namespace os {

bool CanOpenDeviceFile(const std::string& /*deviceFile*/) {
    return false;
}

std::optional<std::vector<UsbDeviceFacts>> ReadUsbDeviceFacts() {
    return std::nullopt;
}

std::optional<std::vector<UsbDeviceFacts>> ReadUsbDeviceFacts(const std::string& /*devicesFolder*/,
                                                              const DeviceFileCheck& /*canOpen*/) {
    return std::nullopt;
}

}  // namespace os
