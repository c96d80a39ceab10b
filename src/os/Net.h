#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace os {

// One network interface as the link layer sees it.
struct NetworkLink {
    unsigned index = 0;  // the kernel's interface index
    std::string name;
    bool loopback = false;
    std::vector<uint8_t> hardwareAddress;  // empty for links without one (tunnels)
    bool up = false;  // administratively up and running (carrier present where the driver says)
    std::vector<std::array<uint8_t, 4>> ipv4Addresses;  // network order, as the system lists them
};

// Every interface that has a link-layer entry, in the order the system lists them.
std::vector<NetworkLink> ListNetworkLinks();

// This computer's host name; empty on failure.
std::string HostName();

// The IPv4 addresses `host` resolves to, in the resolver's order; empty when it does not.
std::vector<std::array<uint8_t, 4>> ResolveIpv4(const std::string& host);

}  // namespace os
