#include "os/ReadAtFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace os {
namespace {

constexpr size_t kBlockSize = 128 * 1024;

}  // namespace

struct ReadAtFile::Native {
    int fd = -1;
    void* map = nullptr;
};

ReadAtFile::ReadAtFile() : native_(std::make_unique<Native>()) {}

ReadAtFile::~ReadAtFile() {
    if (native_->map != nullptr) munmap(native_->map, static_cast<size_t>(size_));
    if (native_->fd >= 0) close(native_->fd);
}

const unsigned char* ReadAtFile::Map() {
    if (native_->map == nullptr && native_->fd >= 0 && size_ > 0 && size_ <= SIZE_MAX) {
        void* mapped =
            mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, native_->fd, 0);
        if (mapped != MAP_FAILED) native_->map = mapped;
    }
    return static_cast<const unsigned char*>(native_->map);
}

bool ReadAtFile::Open(const std::string& path) {
    if (native_->fd >= 0) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    native_->fd = fd;
    size_ = static_cast<uint64_t>(info.st_size);
    for (auto& block : blocks_) block.bytes.resize(kBlockSize);
    return true;
}

bool ReadAtFile::Load(Block& block, uint64_t offset) {
    size_t got = 0;
    while (got < kBlockSize) {
        const ssize_t n = pread(native_->fd, block.bytes.data() + got, kBlockSize - got,
                                static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    block.offset = offset;
    block.length = got;
    return true;
}

size_t ReadAtFile::ReadThrough(uint64_t offset, void* data, size_t count) {
    if (native_->fd < 0) return 0;
    auto* out = static_cast<unsigned char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n =
            pread(native_->fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

size_t ReadAtFile::ReadAt(uint64_t offset, void* data, size_t count) {
    if (native_->fd < 0) return 0;
    auto* out = static_cast<unsigned char*>(data);
    size_t done = 0;
    while (done < count) {
        const uint64_t at = offset + done;
        Block* hit = nullptr;
        for (auto& block : blocks_) {
            if (block.length > 0 && at >= block.offset && at < block.offset + block.length)
                hit = &block;
        }
        if (hit == nullptr) {
            // Large requests go straight to the caller's buffer.
            if (count - done >= kBlockSize) {
                const ssize_t n =
                    pread(native_->fd, out + done, count - done, static_cast<off_t>(at));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += static_cast<size_t>(n);
                continue;
            }
            hit = blocks_[0].lastUse <= blocks_[1].lastUse ? &blocks_[0] : &blocks_[1];
            if (!Load(*hit, at) || hit->length == 0) {
                hit->length = 0;
                break;
            }
        }
        hit->lastUse = ++clock_;
        const size_t inside = static_cast<size_t>(at - hit->offset);
        const size_t n = std::min(count - done, hit->length - inside);
        std::memcpy(out + done, hit->bytes.data() + inside, n);
        done += n;
    }
    return done;
}

}  // namespace os
