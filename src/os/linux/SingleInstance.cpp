#include "os/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "BuildConfig.h"
#include "os/DiagnosticLog.h"

namespace os {
namespace {

// The lock lives as long as the process: its descriptor is never closed, and the system drops
// the lock when the process ends, however it ends.
int g_lockFd = -1;

bool IsOwnFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

// The user's cache folder: $XDG_CACHE_HOME when absolute, else ~/.cache. Empty without a home.
std::string CacheHome() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return cache;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache";
    return {};
}

}  // namespace

// $XDG_RUNTIME_DIR, else /tmp/maplenook-<uid>, else <cache>/maplenook-<uid>.
// The folder the session manager keeps for this user: every session of the user (the desktop,
// ssh, su) shares it, whatever its own $XDG_RUNTIME_DIR says.
std::string SessionManagerFolder() {
#if MAPLENOOK_TEST_HOOKS
    // Test builds run many instances side by side, each in a runtime folder of its own.
    if (const char* forced = std::getenv("MAPLENOOK_TEST_RUNTIME_DIR")) return forced;
#endif
    return "/run/user/" + std::to_string(geteuid());
}

std::string UserRuntimeFolder() {
    const std::string session = SessionManagerFolder();
    struct stat sessionFacts {};
    if (stat(session.c_str(), &sessionFacts) == 0 && IsOwnFolder(sessionFacts) &&
        (sessionFacts.st_mode & 077) == 0) {
        return session;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::string dir = runtime;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        struct stat st {};
        if (stat(dir.c_str(), &st) == 0 && IsOwnFolder(st)) return dir;
    }
    const std::string uid = std::to_string(geteuid());
    const std::string cacheHome = CacheHome();
    const std::string fallback = cacheHome.empty() ? "" : cacheHome + "/maplenook-" + uid;
    // Once a start had to fall back, every later start keeps to that folder, so two starts
    // still meet when the shared folder comes free again.
    struct stat st {};
    if (!fallback.empty() && lstat(fallback.c_str(), &st) == 0 && MakePrivateFolder(fallback)) {
        return fallback;
    }
    const std::string shared = "/tmp/maplenook-" + uid;
    if (MakePrivateFolder(shared)) return shared;
    // Someone else's folder or a symlink has this user's name in /tmp.
    if (!fallback.empty()) {
        mkdir(cacheHome.c_str(), 0700);  // may exist already; the next step decides
        if (MakePrivateFolder(fallback)) {
            LogWarning("instance lock folder",
                       shared + " is not a private folder of this user; using " + fallback);
            return fallback;
        }
    }
    LogWarning("instance lock folder", "no private folder of this user");
    return {};
}

std::string InstanceLockAddress(const std::string& runtimeFolder, const std::string& name) {
    return runtimeFolder + "/" + name;
}

InstanceLock TakeInstanceLock(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return InstanceLock::Failed;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        g_lockFd = fd;
        return InstanceLock::Acquired;
    }
    const int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? InstanceLock::HeldByAnother : InstanceLock::Failed;
}

}  // namespace os
