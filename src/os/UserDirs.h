#pragma once
#include <string>

namespace os {

// The user's configuration folder: $XDG_CONFIG_HOME when it is set to an absolute path, else
// the home folder's ".config". Read afresh on every call. Empty when no home is known.
std::string UserConfigDirectory();

// The user's cache folder: $XDG_CACHE_HOME when it is set to an absolute path, else the home
// folder's ".cache". Read afresh on every call. Empty when no home is known.
std::string UserCacheDirectory();

// The user's state folder: $XDG_STATE_HOME when it is set to an absolute path, else the home
// folder's ".local/state". Read afresh on every call. Empty when no home is known.
std::string UserStateDirectory();

}  // namespace os
