#include "os/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "os/linux/WriteAll.h"

namespace os {

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    bytes.clear();
    if (info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size));
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

bool ReplaceFileAtomically(const std::string& linkOrPath, const std::string& bytes) {
    // A settings file kept elsewhere through a symlink is updated where it lives; renaming over
    // the link would cut it off.
    std::string path = linkOrPath;
    struct stat link {};
    if (lstat(linkOrPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* target = realpath(linkOrPath.c_str(), nullptr);
        if (target == nullptr) return false;
        path = target;
        free(target);
    }
    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // Keep the permissions of the file being replaced; a new file gets the usual 0644.
    struct stat old {};
    fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool ok = detail::WriteAllTo(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
    unlink(temp.c_str());
    return false;
}

PathKind KindOfPath(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    return S_ISREG(info.st_mode) ? PathKind::RegularFile : PathKind::Other;
}

bool StampOf(const std::string& path, FileStamp& stamp) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = static_cast<unsigned long long>(info.st_size);
    stamp.modifiedNs =
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    return true;
}

bool IsUserWritableFile(const std::string& path) {
    struct stat info {};
    // Root may write anything, so the owner's write bit is what says "read-only" here.
    return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0 &&
           access(path.c_str(), W_OK) == 0;
}

bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace os
