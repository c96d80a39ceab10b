#include "base/LoopbackOwner.h"

#include "base/Ipv4Text.h"
#include "base/TextCase.h"

namespace {

// The host and port parts of "scheme://[user@]host[:port]/...".
bool SplitAuthority(const std::string& url, std::string& scheme, std::string& host,
                    std::string& port) {
    const size_t colon = url.find("://");
    if (colon == std::string::npos) return false;
    scheme = AsciiLowerCopy(url.substr(0, colon));
    const size_t start = colon + 3;
    const size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    size_t portColon = authority.rfind(':');
    if (portColon != std::string::npos && authority.find(']', portColon) != std::string::npos)
        portColon = std::string::npos;
    host = AsciiLowerCopy(authority.substr(0, portColon));
    port = portColon == std::string::npos ? std::string() : authority.substr(portColon + 1);
    return true;
}

bool IsLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "localhost." || host == "[::1]" || host == "[::]" ||
        host == "[0:0:0:0:0:0:0:1]" || host.rfind("[::ffff:127.", 0) == 0 ||
        host.rfind("[::ffff:7f", 0) == 0 || host == "[::ffff:0.0.0.0]" || host == "[::ffff:0:0]")
        return true;
    // 127.0.0.0/8 in any spelling the resolver takes ("127.1"), and 0.0.0.0, which a
    // connection takes to this machine.
    const auto v4 = ParseIpv4Host(host);
    return v4 && ((*v4 >> 24) == 127 || *v4 == 0);
}

}  // namespace

bool ListenersAreTheUsers(const std::vector<os::TcpListenerFacts>& listeners, unsigned uid) {
    bool any = false;
    for (const auto& listener : listeners) {
        if (!listener.reachableOnLoopback) continue;
        if (listener.uid != uid && listener.uid != 0) return false;
        any = true;
    }
    return any;
}

bool LoopbackPortIsTheUsers(uint16_t port) {
    return ListenersAreTheUsers(os::ListTcpListeners(port), os::EffectiveUserId());
}

std::optional<uint16_t> LoopbackPortOf(const std::string& url) {
    std::string scheme, host, port;
    if (!SplitAuthority(url, scheme, host, port) || !IsLoopbackHost(host)) return std::nullopt;
    if (port.empty()) {
        if (scheme == "http") return 80;
        if (scheme == "https") return 443;
        return std::nullopt;
    }
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535) return std::nullopt;
    return static_cast<uint16_t>(number);
}

bool AddressMayBeUsed(const std::string& url) {
    const auto port = LoopbackPortOf(url);
    return !port || LoopbackPortIsTheUsers(*port);
}

bool ListenersIncludeAnotherUsers(const std::vector<os::TcpListenerFacts>& listeners,
                                  unsigned uid) {
    for (const auto& listener : listeners) {
        if (listener.reachableOnLoopback && listener.uid != uid && listener.uid != 0) return true;
    }
    return false;
}

bool AnotherUserServes(const std::string& url) {
    const auto port = LoopbackPortOf(url);
    return port && ListenersIncludeAnotherUsers(os::ListTcpListeners(*port), os::EffectiveUserId());
}
