#include "os/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace os {
namespace {

// The lock lives as long as the process: its descriptor is never closed, and the system drops
// the lock when the process ends, however it ends.
int g_lockFd = -1;

bool IsOwnFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

std::string UserRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::string dir = runtime;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        struct stat st {};
        if (stat(dir.c_str(), &st) == 0 && IsOwnFolder(st)) return dir;
    }
    const std::string dir = "/tmp/maplenook-" + std::to_string(geteuid());
    return MakePrivateFolder(dir) ? dir : std::string();
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
