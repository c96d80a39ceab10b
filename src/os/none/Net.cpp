#include "os/Net.h"

// No platform: no network links are known and no name is resolved.
namespace os {

std::vector<NetworkLink> ListNetworkLinks() {
    return {};
}

std::string HostName() {
    return {};
}

std::vector<std::array<uint8_t, 4>> ResolveIpv4(const std::string& /*host*/) {
    return {};
}

}  // namespace os
