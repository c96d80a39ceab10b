#pragma once
// Writes a whole buffer to a descriptor, going on after short writes and signals; when it
// fails, errno tells why.
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace os::detail {

inline bool WriteAllTo(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // no progress and no error of its own
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace os::detail
