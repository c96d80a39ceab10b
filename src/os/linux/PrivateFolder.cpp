#include "os/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace os {

bool MakePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    // lstat, so that a symlink planted by someone else is refused rather than followed.
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    return (st.st_mode & 0777) == 0700 || chmod(path.c_str(), 0700) == 0;
}

namespace {

// The folder's path as the kernel reports it for running programs (no doubled "/", no
// symlinked parent), so that it compares equal to the image paths of processes started there.
std::string ResolvedFolder(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path + "/";
    std::string folder = resolved;
    free(resolved);
    return folder == "/" ? folder : folder + "/";
}

}  // namespace

// The candidates: $XDG_RUNTIME_DIR/<name>/, then /tmp/<name>-<uid>/, then a fresh
// /tmp/<name>-<uid>-XXXXXX/.
std::string PrivateUserFolder(const std::string& name) {
    const std::string uid = std::to_string(getuid());
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const std::string dir = std::string(runtime) + "/" + name;
        if (MakePrivateFolder(dir)) return ResolvedFolder(dir);
    }
    const std::string shared = "/tmp/" + name + "-" + uid;
    if (MakePrivateFolder(shared)) return ResolvedFolder(shared);
    std::string fresh = shared + "-XXXXXX";
    if (mkdtemp(fresh.data()) != nullptr) return ResolvedFolder(fresh);
    return {};
}

}  // namespace os
