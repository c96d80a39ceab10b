#include "os/Digest.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace os {
namespace {

struct ChecksumFree {
    void operator()(GChecksum* c) const { g_checksum_free(c); }
};

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

std::string Md5HexOfFile(const std::string& path) {
    Fd file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return {};
    struct stat info {};
    if (fstat(file.fd, &info) != 0 || S_ISDIR(info.st_mode)) return {};
    posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<GChecksum, ChecksumFree> md5(g_checksum_new(G_CHECKSUM_MD5));
    std::vector<guchar> chunk(256 * 1024);
    // Like the read loop it replaces: a failed read ends the input, it does not void it.
    for (;;) {
        const ssize_t n = read(file.fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        g_checksum_update(md5.get(), chunk.data(), n);
    }
    return g_checksum_get_string(md5.get());
}

}  // namespace os
