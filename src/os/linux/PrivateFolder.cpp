#include "os/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace os {
namespace {

// True when `dir` (made here if missing) is a real directory of this user with mode 0700.
bool MakePrivate(const std::string& dir) {
    mkdir(dir.c_str(), 0700);
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != getuid()) return false;
    if ((info.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0) return false;
    return true;
}

}  // namespace

std::string PrivateUserFolder(const std::string& name) {
    const std::string uid = std::to_string(getuid());
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const std::string dir = std::string(runtime) + "/" + name;
        if (MakePrivate(dir)) return dir + "/";
    }
    const std::string shared = "/tmp/" + name + "-" + uid;
    if (MakePrivate(shared)) return shared + "/";
    std::string fresh = shared + "-XXXXXX";
    if (mkdtemp(fresh.data()) != nullptr) return fresh + "/";
    return {};
}

}  // namespace os
