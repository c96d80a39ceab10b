#include "web/AddressSpelling.h"

#include <optional>
#include <string_view>

#include "base/Ipv4Text.h"
#include "base/TextCase.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// What a browser escapes when it meets it raw in a path or query.
bool EscapedWhenRaw(unsigned char c) {
    return c <= 0x20 || c >= 0x7F ||
           std::string_view("\"<>`{}").find(static_cast<char>(c)) != std::string_view::npos;
}

void AppendEscaped(std::string& out, unsigned char byte) {
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

// Percent-escapes as one spelling: unreserved characters plain, the rest upper hex, and raw
// characters a browser would escape escaped, a '%' that starts no escape as well.
std::string CanonicalEscapes(std::string_view text) {
    std::string canonical;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            const auto byte =
                static_cast<unsigned char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            if (IsUnreserved(byte))
                canonical += static_cast<char>(byte);
            else
                AppendEscaped(canonical, byte);
            i += 2;
        } else if (EscapedWhenRaw(c) || c == '%') {
            // A stray '%' too: left bare, a decoded digit after it would make it an escape.
            AppendEscaped(canonical, c);
        } else {
            canonical += static_cast<char>(c);
        }
    }
    return canonical;
}

// The path with "." and ".." segments resolved, as a browser does before it asks.
std::string WithoutDotSegments(const std::string& path) {
    std::string out;
    size_t start = 1;  // the path begins with '/'
    for (;;) {
        const size_t slash = path.find('/', start);
        const bool last = slash == std::string::npos;
        const std::string segment = path.substr(start, last ? slash : slash - start);
        if (segment == "..") {
            const size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
            if (last) out += '/';
        } else if (segment == ".") {
            if (last) out += '/';
        } else {
            out += '/' + segment;
        }
        if (last) break;
        start = slash + 1;
    }
    return out.empty() ? "/" : out;
}

// The port as a browser writes it: no leading zeros, nothing for the default; none when it
// is no port.
std::optional<std::string> CanonicalPort(const std::string& scheme, const std::string& port) {
    if (port.empty()) return std::string();
    if (port.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const size_t digits = port.find_first_not_of('0');
    const std::string plain = digits == std::string::npos ? "0" : port.substr(digits);
    if (plain.size() > 5 || std::stoul(plain) > 65535) return std::nullopt;
    if ((scheme == "http" && plain == "80") || (scheme == "https" && plain == "443")) return "";
    return plain;
}

// The host in lower case, an IPv4 spelling as a dotted quad; none when no browser takes it.
std::optional<std::string> CanonicalHost(const std::string& written) {
    const std::string host = AsciiLowerCopy(written);
    if (!host.empty() && host.front() == '[') {
        if (host.back() != ']') return std::nullopt;
        return host;
    }
    if (host.find_first_of(":[]") != std::string::npos) return std::nullopt;
    if (const auto v4 = ParseIpv4Host(host)) return Ipv4Text(*v4);
    return host;
}

}  // namespace

std::string CanonicalAddress(const std::string& written) {
    const size_t colon = written.find(':');
    if (colon == std::string::npos || written.compare(colon, 3, "://") != 0) return written;
    const std::string scheme = AsciiLowerCopy(written.substr(0, colon));
    // A browser reads "\" as "/" in the authority and path of web addresses.
    std::string url = written;
    if (scheme == "http" || scheme == "https") {
        for (size_t i = 0; i < url.size() && url[i] != '?' && url[i] != '#'; ++i) {
            if (url[i] == '\\') url[i] = '/';
        }
    }
    const size_t start = colon + 3;
    const size_t end = url.find_first_of("/?#", start);
    const std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    std::string rest = end == std::string::npos ? std::string() : url.substr(end);
    const size_t at = authority.rfind('@');
    const std::string user = at == std::string::npos ? std::string() : authority.substr(0, at + 1);
    const std::string hostPort = authority.substr(user.size());
    size_t portColon = hostPort.rfind(':');
    if (portColon != std::string::npos && hostPort.find(']', portColon) != std::string::npos)
        portColon = std::string::npos;  // a colon inside an IPv6 literal
    const auto host = CanonicalHost(hostPort.substr(0, portColon));
    const auto port = CanonicalPort(
        scheme, portColon == std::string::npos ? std::string() : hostPort.substr(portColon + 1));
    if (!host || !port) return written;
    std::string canonical = scheme + "://" + user + *host;
    if (!port->empty()) canonical += ":" + *port;
    if (rest.empty() || rest.front() != '/') rest.insert(rest.begin(), '/');
    const size_t query = rest.find_first_of("?#");
    canonical += WithoutDotSegments(CanonicalEscapes(rest.substr(0, query)));
    if (query != std::string::npos)
        canonical += CanonicalEscapes(std::string_view(rest).substr(query));
    return canonical;
}

bool SameAddress(const std::string& a, const std::string& b) {
    return CanonicalAddress(a) == CanonicalAddress(b);
}
