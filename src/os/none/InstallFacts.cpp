#include "os/InstallFacts.h"

// No platform: write access and real paths cannot be established.
namespace os {

bool CanWriteInFolder(const std::string& /*folder*/) {
    return false;
}

std::string ResolvedPath(const std::string& /*path*/) {
    return {};
}

std::string SystemProgramFolder() {
    return {};
}

}  // namespace os
