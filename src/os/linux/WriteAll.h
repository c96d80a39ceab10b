#pragma once
// Writes a whole buffer to a descriptor, going on after short writes and signals; when it
// fails, errno tells why.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace os::detail {

// A socket is written with MSG_NOSIGNAL, so a peer that went away gives EPIPE instead of
// killing the process with SIGPIPE.
enum class Descriptor { File, Socket };

inline bool WriteAllTo(int fd, const char* data, size_t size, Descriptor kind = Descriptor::File) {
    while (size > 0) {
        const ssize_t n =
            kind == Descriptor::Socket ? send(fd, data, size, MSG_NOSIGNAL) : write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // no progress and no error of its own
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace os::detail
