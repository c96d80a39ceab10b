#include "os/PrivateFolder.h"

// A folder nobody else may enter needs the platform's access rules: not supported.
namespace os {

bool MakePrivateFolder(const std::string& /*path*/) {
    return false;
}

std::string PrivateUserFolder(const std::string& /*name*/) {
    return {};
}

}  // namespace os
