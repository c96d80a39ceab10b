#include "os/Proxy.h"

// No platform: the system's proxy settings cannot be read.
namespace os {

std::optional<std::vector<std::string>> ProxiesFor(const std::string& /*url*/) {
    return std::nullopt;
}

}  // namespace os
