#pragma once
#include <optional>
#include <string>
#include <vector>

namespace os {

// The proxies the desktop's settings (or, without a desktop, the environment) name for `url`,
// best first, as URIs: "direct://" for none, "http://host:port", "socks5://host:port", ...
// Nothing when they cannot be resolved (an unreachable auto-configuration script, an address
// the resolver does not take). Synchronous and safe on any thread; nothing is cached, so a
// change of the settings applies to the next transfer.
std::optional<std::vector<std::string>> ProxiesFor(const std::string& url);

}  // namespace os
