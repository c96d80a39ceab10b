#pragma once
#include <string>

namespace os {

// The user's own folders for the program's configuration, cache and state, as the desktop
// names them. Read afresh on every call, so a change of the environment shows at once. Empty
// when no home is known.
std::string UserConfigDirectory();
std::string UserCacheDirectory();
std::string UserStateDirectory();

}  // namespace os
