#include "os/InstallFacts.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace os {

bool CanWriteInFolder(const std::string& folder) {
    // The effective ids decide, as they decide the later writes themselves.
    return !folder.empty() && faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string ResolvedPath(const std::string& path) {
    char buffer[PATH_MAX];
    if (path.empty() || realpath(path.c_str(), buffer) == nullptr) return {};
    return buffer;
}

std::string SystemProgramFolder() {
    // Debian's packages, the program's own launcher link among them, install here.
    return "/usr/bin/";
}

}  // namespace os
