#include "os/UserDirs.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "os/DiagnosticLog.h"

namespace os {
namespace {

// The variables that name a user's folders; GLib, GTK and WebKit read them as well.
constexpr std::array<const char*, 5> kFolderVariables = {
    "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"};

// Whether `path` is absolute and the nearest of it and its parents that exists belongs to the
// effective user (or, with `orRoot`, to root): what the program makes there is then made in a
// folder of the user's, not in another user's.
bool IsEffectiveUsers(std::string path, bool orRoot = false) {
    if (path.empty() || path[0] != '/') return false;
    for (;;) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0)
            return S_ISDIR(st.st_mode) && (st.st_uid == geteuid() || (orRoot && st.st_uid == 0));
        const size_t slash = path.find_last_of('/');
        if (slash == 0 || slash == std::string::npos) return false;
        path.erase(slash);
    }
}

std::string PasswordHome() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : std::string();
}

std::string FolderFromEnvironment(const char* variable, const char* underHome) {
    const char* value = std::getenv(variable);
    // A folder the user chose in a system one (a scratch folder in /tmp) is the user's choice.
    if (value != nullptr && IsEffectiveUsers(value, true)) return value;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + underHome;
}

}  // namespace

std::string HomeDirectory() {
    // Under "sudo -E" $HOME is still the invoking user's: a program running as root must not
    // leave root's files there.
    const char* home = std::getenv("HOME");
    if (home != nullptr && IsEffectiveUsers(home)) return home;
    const std::string own = PasswordHome();
    return IsEffectiveUsers(own) ? own : std::string();
}

bool AdoptOwnHome() {
    const char* home = std::getenv("HOME");
    const std::string given = home != nullptr ? home : "";
    const std::string own = HomeDirectory();
    std::string dropped;
    for (const char* variable : kFolderVariables) {
        const char* value = std::getenv(variable);
        if (value == nullptr || IsEffectiveUsers(value, true)) continue;
        dropped += std::string(" ") + variable;
        unsetenv(variable);
    }
    if (own.empty()) {
        unsetenv("HOME");
        LogError("no home of this user",
                 "neither $HOME (" + given + ") nor the password database's (" + PasswordHome() +
                     ") is a folder of user " + std::to_string(geteuid()) + "; nothing is written");
        return false;
    }
    if (own != given) setenv("HOME", own.c_str(), 1);
    if (own != given || !dropped.empty()) {
        LogWarning("home of another user",
                   "$HOME (" + given + ") is not a folder of user " + std::to_string(geteuid()) +
                       ", which writes under " + own +
                       (dropped.empty() ? std::string() : "; ignored:" + dropped));
    }
    return true;
}

// The XDG base directories: $XDG_<KIND>_HOME when it is an absolute path in a folder of the
// user's, else the home folder's default for that kind.

std::string UserConfigDirectory() {
    // GLib's g_get_user_config_dir caches its first answer; this one follows the environment.
    return FolderFromEnvironment("XDG_CONFIG_HOME", "/.config");
}

std::string UserCacheDirectory() {
    return FolderFromEnvironment("XDG_CACHE_HOME", "/.cache");
}

std::string UserStateDirectory() {
    return FolderFromEnvironment("XDG_STATE_HOME", "/.local/state");
}

}  // namespace os
