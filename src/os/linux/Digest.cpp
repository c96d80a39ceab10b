#include "os/Digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace os {
namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// Large reads keep the system-call count low.
constexpr size_t kReadSize = 256 * 1024;

}  // namespace

std::string Md5HexOfFile(const std::string& path) {
    Fd file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return {};
    struct stat info {};
    if (fstat(file.fd, &info) != 0 || S_ISDIR(info.st_mode)) return {};
    posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD_CTX, DigestContextFree> md5(EVP_MD_CTX_new());
    if (!md5 || EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) != 1) return {};
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[kReadSize]);
    // Like the read loop it replaces: a failed read ends the input, it does not void it.
    for (;;) {
        const ssize_t n = read(file.fd, chunk.get(), kReadSize);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (EVP_DigestUpdate(md5.get(), chunk.get(), static_cast<size_t>(n)) != 1) return {};
    }
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(md5.get(), bytes, &length) != 1) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[bytes[i] >> 4]);
        hex.push_back(kHex[bytes[i] & 15]);
    }
    return hex;
}

}  // namespace os
