#include "sysutil/SystemInfo.h"

#include "base/TextTruncate.h"
#include "os/OsName.h"
#include "sysutil/WindowsOsName.h"

std::string OsDisplayName() {
    return TruncateCharacters(os::OsName(), kMaxOsNameCharacters);
}

std::string MacText() {
    return FormatMacText(os::ListNetworkLinks());
}

std::string LocalIpText() {
    const auto addresses = os::ResolveIpv4(os::HostName());
    return addresses.empty() ? std::string() : FormatDottedIpv4(addresses.front());
}

std::string FormatMacText(const std::vector<os::NetworkLink>& links) {
    const os::NetworkLink* first = nullptr;
    for (const auto& link : links) {
        if (link.loopback || link.hardwareAddress.empty()) continue;
        if (first == nullptr || link.index < first->index) first = &link;
    }
    std::string text;
    if (first == nullptr) return text;
    for (const uint8_t byte : first->hardwareAddress) text += std::to_string(byte);
    return text;
}

std::string FormatDottedIpv4(const std::array<uint8_t, 4>& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
           std::to_string(address[2]) + "." + std::to_string(address[3]);
}
