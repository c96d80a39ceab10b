#include "web/CurlProxy.h"

#include <array>
#include <utility>

#include "base/LoopbackOwner.h"
#include "base/TextCase.h"
#include "os/Proxy.h"

std::optional<std::string> CurlProxyFrom(const std::vector<std::string>& proxies) {
    // GIO's scheme names and libcurl's; a plain "socks" is whichever the proxy speaks, and
    // every SOCKS server libcurl would meet speaks version 5.
    static const std::array<std::pair<const char*, const char*>, 6> kSchemes = {{
        {"http", "http"},
        {"https", "https"},
        {"socks", "socks5h"},
        {"socks5", "socks5h"},
        {"socks4a", "socks4a"},
        {"socks4", "socks4"},
    }};
    for (const auto& proxy : proxies) {
        const size_t colon = proxy.find("://");
        if (colon == std::string::npos) continue;
        const std::string scheme = AsciiLowerCopy(proxy.substr(0, colon));
        if (scheme == "direct") return std::string();
        const std::string rest = proxy.substr(colon + 3);
        if (rest.empty()) continue;
        for (const auto& [gio, curl] : kSchemes) {
            if (scheme == gio) return std::string(curl) + "://" + rest;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CurlProxyFor(const std::string& url) {
    if (LoopbackPortOf(url)) return std::string();
    const auto proxies = os::ProxiesFor(url);
    if (!proxies) return std::nullopt;
    return CurlProxyFrom(*proxies);
}
