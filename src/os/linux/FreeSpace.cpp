#include "os/FreeSpace.h"

#include <sys/statvfs.h>

#include <cerrno>

namespace os {

uint64_t FreeSpaceOf(const std::string& folder) {
    std::string at = folder.empty() ? "." : folder;
    for (;;) {
        struct statvfs facts {};
        if (statvfs(at.c_str(), &facts) == 0) {
            const uint64_t blockSize = facts.f_frsize != 0 ? facts.f_frsize : facts.f_bsize;
            const uint64_t blocks = facts.f_bavail;
            if (blockSize != 0 && blocks > UINT64_MAX / blockSize) return UINT64_MAX;
            return blocks * blockSize;
        }
        if (errno != ENOENT || at == "." || at == "/") return UINT64_MAX;
        while (at.size() > 1 && at.back() == '/') at.pop_back();
        const auto slash = at.rfind('/');
        if (slash == std::string::npos) {
            at = ".";
        } else if (slash == 0) {
            at = "/";
        } else {
            at.resize(slash);
        }
    }
}

bool IsOutOfRoom(int errorNumber) {
    return errorNumber == ENOSPC || errorNumber == EDQUOT || errorNumber == EFBIG;
}

}  // namespace os
