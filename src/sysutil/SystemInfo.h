#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/Net.h"

// Facts about this computer for the usage report. Each returns an empty text instead of
// failing.

// The longest system name the usage report carries, in characters.
inline constexpr size_t kMaxOsNameCharacters = 255;

// The operating system's display name (os::OsName), at most 255 characters; a Windows
// backend gives FormatWindowsOsName (sysutil/WindowsOsName.h).
std::string OsDisplayName();

// The first network adapter's hardware address, each byte in decimal without separators
// (00:1A:2B:3C:4D:5E gives "02643607794"). Empty when there is no adapter.
std::string MacText();

// The first adapter's IPv4 address, dotted ("192.168.1.20"); when it has none, the host name's
// first address that is not loopback; empty when neither gives one.
std::string LocalIpText();

// The pure parts of the above. The first adapter is the link with the lowest interface index
// that is up, not loopback and has a hardware address: a down link (an unused ifb0) or the
// loopback says nothing about how this computer reaches the server. Null when there is none.
const os::NetworkLink* FirstAdapter(const std::vector<os::NetworkLink>& links);
std::string FormatMacText(const std::vector<os::NetworkLink>& links);
std::string ChooseIpText(const std::vector<os::NetworkLink>& links,
                         const std::vector<std::array<uint8_t, 4>>& hostAddresses);
std::string FormatDottedIpv4(const std::array<uint8_t, 4>& address);
