#include <cstring>

#include "os/ProcFs.h"

namespace os {

bool ReachableFromLoopback(const ListenerAddress& address) {
    const auto& b = address.bytes;
    if (!address.ipv6) return (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0) || b[0] == 127;
    static const unsigned char kZero[15] = {};
    static const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    // :: and ::1. Whether :: also takes IPv4 (IPV6_V6ONLY) does not matter: ::1 reaches it.
    if (std::memcmp(b.data(), kZero, sizeof kZero) == 0 && (b[15] == 0 || b[15] == 1)) return true;
    if (std::memcmp(b.data(), kMappedPrefix, sizeof kMappedPrefix) != 0) return false;
    // A socket bound to a mapped address takes IPv4 connections to it; ::ffff:0.0.0.0 takes
    // every IPv4 address, as 0.0.0.0 does.
    const bool mappedAny = b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] == 0;
    return mappedAny || b[12] == 127;
}

}  // namespace os
