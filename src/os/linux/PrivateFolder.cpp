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

std::string PrivateUserFolder(const std::string& name) {
    const std::string uid = std::to_string(getuid());
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const std::string dir = std::string(runtime) + "/" + name;
        if (MakePrivateFolder(dir)) return dir + "/";
    }
    const std::string shared = "/tmp/" + name + "-" + uid;
    if (MakePrivateFolder(shared)) return shared + "/";
    std::string fresh = shared + "-XXXXXX";
    if (mkdtemp(fresh.data()) != nullptr) return fresh + "/";
    return {};
}

}  // namespace os
