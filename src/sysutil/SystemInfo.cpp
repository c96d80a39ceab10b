#include "sysutil/SystemInfo.h"

#include "base/TextTruncate.h"
#include "os/OsName.h"

std::string OsDisplayName() {
    return TruncateCharacters(os::OsName(), kMaxOsNameCharacters);
}

std::string MacText() {
    return FormatMacText(os::ListNetworkLinks());
}

std::string LocalIpText() {
    const auto links = os::ListNetworkLinks();
    const os::NetworkLink* first = FirstAdapter(links);
    // The host name is asked only when needed: its lookup may wait on a name server.
    if (first != nullptr && !first->ipv4Addresses.empty()) return ChooseIpText(links, {});
    return ChooseIpText(links, os::ResolveIpv4(os::HostName()));
}

const os::NetworkLink* FirstAdapter(const std::vector<os::NetworkLink>& links) {
    const os::NetworkLink* first = nullptr;
    for (const auto& link : links) {
        if (!link.up || link.loopback || link.hardwareAddress.empty()) continue;
        if (first == nullptr || link.index < first->index) first = &link;
    }
    return first;
}

std::string ChooseIpText(const std::vector<os::NetworkLink>& links,
                         const std::vector<std::array<uint8_t, 4>>& hostAddresses) {
    const os::NetworkLink* first = FirstAdapter(links);
    if (first != nullptr && !first->ipv4Addresses.empty())
        return FormatDottedIpv4(first->ipv4Addresses.front());
    // Many systems map the host name to 127.0.x.1, which names no computer on the network.
    for (const auto& address : hostAddresses) {
        if (address[0] != 127) return FormatDottedIpv4(address);
    }
    return {};
}

std::string FormatMacText(const std::vector<os::NetworkLink>& links) {
    const os::NetworkLink* first = FirstAdapter(links);
    std::string text;
    if (first == nullptr) return text;
    for (const uint8_t byte : first->hardwareAddress) text += std::to_string(byte);
    return text;
}

std::string FormatDottedIpv4(const std::array<uint8_t, 4>& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
           std::to_string(address[2]) + "." + std::to_string(address[3]);
}
