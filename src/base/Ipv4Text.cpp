#include "base/Ipv4Text.h"

#include <vector>

namespace {

// One part: decimal, 0-prefixed octal or 0x-prefixed hex; nothing when not a number or over
// 32 bits.
std::optional<uint64_t> ParsePart(const std::string& part) {
    if (part.empty()) return std::nullopt;
    unsigned base = 10;
    size_t start = 0;
    if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        base = 16;
        start = 2;
    } else if (part.size() >= 2 && part[0] == '0') {
        base = 8;
        start = 1;
    }
    uint64_t value = 0;
    for (size_t i = start; i < part.size(); ++i) {
        const char c = part[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        if (digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<uint32_t> ParseIpv4Host(const std::string& host) {
    std::string text = host;
    if (!text.empty() && text.back() == '.') text.pop_back();
    std::vector<uint64_t> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        const auto part =
            ParsePart(text.substr(start, dot == std::string::npos ? dot : dot - start));
        if (!part || parts.size() == 4) return std::nullopt;
        parts.push_back(*part);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    uint64_t address = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] > 255) return std::nullopt;
        address |= parts[i] << (8 * (3 - i));
    }
    const uint64_t last = parts.back();
    if (last >= (1ull << (8 * (5 - parts.size())))) return std::nullopt;
    return static_cast<uint32_t>(address | last);
}

std::string Ipv4Text(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}
