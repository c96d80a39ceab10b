#include "os/UserDirs.h"

// No platform: the user's folders are unknown.
namespace os {

std::string HomeDirectory() {
    return {};
}

bool AdoptOwnHome() {
    return true;
}

std::string UserConfigDirectory() {
    return {};
}

std::string UserCacheDirectory() {
    return {};
}

std::string UserStateDirectory() {
    return {};
}

}  // namespace os
