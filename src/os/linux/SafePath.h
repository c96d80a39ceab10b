#pragma once
#include <string>

#include "os/linux/UniqueFd.h"

namespace os::detail {

// What a walk from "/" found at the end of a path.
struct SafeOpen {
    // The last level, opened with O_PATH; -1 when a level was refused or is missing.
    UniqueFd fd{-1};
    // A level does not exist; every level before it passed.
    bool missing = false;
    // Which level was refused and why (or which one is missing).
    std::string why;
};

// Opens `path` by a walk from "/" that trusts nothing another user could have changed, so that
// what the caller then uses is the thing judged, whatever is renamed meanwhile: every level
// belongs to this user or root, and every folder on the way can be written only by its owner,
// or is sticky (like /tmp), where nobody may move what another user owns. Symlinks on the way
// are followed (they are the user's or root's like every level); the last level's own link
// only when `followLast`. Its type and mode are the caller's to judge. A relative path starts
// at the working folder's path.
SafeOpen OpenThroughSafeFolders(const std::string& path, bool followLast);

// The safe-folder rule for one level on the way: a folder of this user's or root's that
// nobody else may write into, unless it is sticky.
bool IsSafeFolderOnTheWay(int fd);

}  // namespace os::detail
