#include "os/Net.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace os {

std::vector<NetworkLink> ListNetworkLinks() {
    std::vector<NetworkLink> links;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return links;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        NetworkLink fact;
        fact.index = static_cast<unsigned>(link->sll_ifindex);
        fact.name = entry->ifa_name != nullptr ? entry->ifa_name : "";
        fact.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        const size_t length = std::min<size_t>(link->sll_halen, sizeof link->sll_addr);
        fact.hardwareAddress.assign(link->sll_addr, link->sll_addr + length);
        // IFF_RUNNING is the kernel's operational state: a link without carrier is not running.
        fact.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
        links.push_back(std::move(fact));
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        // An address label ("eth0:1") names its link before the colon.
        const std::string label = entry->ifa_name != nullptr ? entry->ifa_name : "";
        const std::string name = label.substr(0, label.find(':'));
        const auto owner = std::find_if(links.begin(), links.end(),
                                        [&](const NetworkLink& link) { return link.name == name; });
        if (owner == links.end()) continue;
        std::array<uint8_t, 4> bytes{};
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        std::memcpy(bytes.data(), &ipv4->sin_addr.s_addr, bytes.size());
        owner->ipv4Addresses.push_back(bytes);
    }
    freeifaddrs(list);
    return links;
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::vector<std::array<uint8_t, 4>> ResolveIpv4(const std::string& host) {
    std::vector<std::array<uint8_t, 4>> addresses;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        std::array<uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), &ipv4->sin_addr.s_addr, bytes.size());  // network order
        addresses.push_back(bytes);
    }
    freeaddrinfo(found);
    return addresses;
}

}  // namespace os
