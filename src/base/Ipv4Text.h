#pragma once
#include <cstdint>
#include <optional>
#include <string>

// A host written as an IPv4 address in any spelling a browser or the C library takes: one to
// four dot-separated numbers, each decimal, octal (leading 0) or hex (0x), the last filling the
// remaining bytes ("127.1" is 127.0.0.1, "0x7f000001" too); one trailing dot allowed. The
// address in host order, or nothing when `host` is not such a text or a number is too large.
std::optional<uint32_t> ParseIpv4Host(const std::string& host);

// The dotted-quad spelling of `address` (host order).
std::string Ipv4Text(uint32_t address);
