#include "os/linux/FolderUsers.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <cctype>
#include <string>

namespace os::detail {
namespace {

std::string LinkText(const std::string& link) {
    char text[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), text, sizeof text);
    return n > 0 && static_cast<size_t>(n) < sizeof text ? std::string(text, static_cast<size_t>(n))
                                                         : std::string();
}

bool Inside(const std::string& path, const std::string& folder) {
    return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0;
}

}  // namespace

bool ProcessWorksIn(int dir) {
    const std::string folder = LinkText("/proc/self/fd/" + std::to_string(dir));
    if (folder.empty() || folder[0] != '/') return false;
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(processes)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        // Other users' processes do not let their links be read: they cannot be ours anyway.
        if (Inside(LinkText(base + "/cwd"), folder) || Inside(LinkText(base + "/exe"), folder)) {
            found = true;
            break;
        }
    }
    closedir(processes);
    return found;
}

}  // namespace os::detail
