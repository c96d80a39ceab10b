#include "os/HandOver.h"

// No platform: no other instance can be reached.
namespace os {

std::string HandOverAddress(const std::string& /*runtimeFolder*/, long /*windowHandle*/) {
    return {};
}

long SendHandOverRequest(const std::string& /*socketPath*/, unsigned long /*dwData*/,
                         int /*timeoutMs*/) {
    return 0;
}

long SendHandOverRequest(const std::string& /*socketPath*/, const HandOverRequest& /*request*/,
                         int /*timeoutMs*/) {
    return 0;
}

}  // namespace os
