#pragma once
// Opening a folder by descriptor, never through a symlink at its last step.
#include <fcntl.h>

namespace os::detail {

inline int OpenFolderAt(int at, const char* path) {
    return openat(at, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace os::detail
