#include "os/FileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "os/linux/WriteAll.h"

namespace os {
namespace {

using detail::WriteAllTo;

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// Gives `temp` the name `to` unless `to` already exists.
bool PublishNoReplace(const std::string& temp, const std::string& to) {
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing name.
    if (link(temp.c_str(), to.c_str()) != 0) return false;
    unlink(temp.c_str());
    return true;
}

}  // namespace

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateDirectories(const std::string& path, unsigned mode) {
    if (path.empty()) return false;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), static_cast<mode_t>(mode));
    }
    mkdir(path.c_str(), static_cast<mode_t>(mode));
    return IsDirectory(path);
}

bool SetFileMode(const std::string& path, unsigned mode) {
    return chmod(path.c_str(), static_cast<mode_t>(mode & 0777)) == 0;
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool CopyFileNoReplace(const std::string& from, const std::string& to) {
    Fd source{open(from.c_str(), O_RDONLY | O_CLOEXEC)};
    if (source.fd < 0) return false;
    struct stat info {};
    if (fstat(source.fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (access(to.c_str(), F_OK) == 0) return false;

    std::string temp = to + ".XXXXXX";
    Fd target{mkostemp(temp.data(), O_CLOEXEC)};
    if (target.fd < 0) return false;
    bool ok = true;
    std::vector<char> chunk(256 * 1024);
    for (;;) {
        const ssize_t n = read(source.fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAllTo(target.fd, chunk.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ok = ok && fchmod(target.fd, info.st_mode & 0777) == 0;
    ok = ok && close(target.fd) == 0;
    target.fd = -1;
    if (ok && PublishNoReplace(temp, to)) return true;
    unlink(temp.c_str());
    return false;
}

}  // namespace os
