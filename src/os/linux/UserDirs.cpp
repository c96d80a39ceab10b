#include "os/UserDirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace os {
namespace {

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    const passwd* entry = getpwuid(getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
        return entry->pw_dir;
    }
    return {};
}

}  // namespace

// The XDG base directories: $XDG_<KIND>_HOME when it is an absolute path, else the home
// folder's default for that kind.

std::string UserConfigDirectory() {
    // GLib's g_get_user_config_dir caches its first answer; this one follows the environment.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return config;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.config";
}

std::string UserCacheDirectory() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return cache;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.cache";
}

std::string UserStateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return state;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.local/state";
}

}  // namespace os
