#pragma once
// Which proxy a transfer goes through, in libcurl's spelling. libcurl on its own reads only the
// *_proxy variables, while the pages' browser follows the desktop's settings; asking the
// desktop here keeps downloads and pages on the same route.
#include <optional>
#include <string>
#include <vector>

// The first proxy of `proxies` (as os::ProxiesFor lists them) that libcurl can use: "" for a
// direct connection, "http://host:port", "socks5h://host:port" (names resolved at the proxy,
// which may be the only one that can), ... Nothing when no entry is usable.
std::optional<std::string> CurlProxyFrom(const std::vector<std::string>& proxies);

// CurlProxyFrom for `url` now. A loopback address is always direct: a proxy would reach its
// own machine's loopback, and the check of who serves our loopback port would see the proxy.
// Nothing when the desktop could not say.
std::optional<std::string> CurlProxyFor(const std::string& url);
