#include "os/Process.h"

// No platform: no program is started, and this process has no known id.
namespace os {

bool StartDetached(const std::string& /*program*/, const std::vector<std::string>& /*args*/,
                   const std::string& /*workingDir*/) {
    return false;
}

bool StartCheckedProgram(const std::string& /*program*/, const std::string& /*workingDir*/) {
    return false;
}

long CurrentProcessId() {
    return 0;
}

}  // namespace os
