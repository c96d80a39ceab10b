#include "os/Shell.h"

// No platform: nothing can be opened or started.
namespace os {

bool ShellOpen(const std::string& /*path*/, const std::vector<std::string>& /*args*/,
               const std::string& /*workingDir*/) {
    return false;
}

bool OpenWithDefaultHandler(const std::string& /*path*/) {
    return false;
}

bool IsExecutableFile(const std::string& /*path*/) {
    return false;
}

}  // namespace os
