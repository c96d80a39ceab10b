#include "os/linux/SafePath.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace os::detail {
namespace {

// As many links as the kernel follows in one lookup.
constexpr int kMaxLinks = 40;
constexpr int kLookUp = O_PATH | O_CLOEXEC;

bool OwnedByUserOrRoot(const struct stat& st) {
    return st.st_uid == geteuid() || st.st_uid == 0;
}

// Appends the components of `path` in front of `pending`, in order.
void PushFront(std::deque<std::string>& pending, const std::string& path) {
    std::deque<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    pending.insert(pending.begin(), names.begin(), names.end());
}

std::string AbsoluteOf(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return {};
    std::string full = std::string(cwd) + "/" + path;
    std::free(cwd);
    return full;
}

SafeOpen Refused(const std::string& level, const std::string& why, bool missing = false) {
    SafeOpen result;
    result.missing = missing;
    result.why = (level.empty() ? std::string("/") : level) + ": " + why;
    return result;
}

// The target of the link open at `fd`; empty when it cannot be read.
std::string LinkTarget(int fd) {
    char target[PATH_MAX];
    const ssize_t n = readlinkat(fd, "", target, sizeof target);
    return n > 0 && static_cast<size_t>(n) < sizeof target ? std::string(target, n) : std::string();
}

}  // namespace

bool IsSafeFolderOnTheWay(int fd) {
    struct stat st {};
    return fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && OwnedByUserOrRoot(st) &&
           ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0);
}

SafeOpen OpenThroughSafeFolders(const std::string& path, bool followLast) {
    const std::string full = AbsoluteOf(path);
    if (full.empty()) return Refused(path, "no working folder");
    std::deque<std::string> pending;
    PushFront(pending, full);
    UniqueFd here(open("/", kLookUp | O_DIRECTORY));
    if (!IsSafeFolderOnTheWay(here.get())) return Refused("/", "others may change it");
    std::string walked;  // for the messages: the levels as reached
    int links = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == ".") continue;
        // The kernel's "..": the real parent of where the walk is, a level it has passed.
        UniqueFd next(openat(here.get(), name.c_str(), kLookUp | O_NOFOLLOW));
        walked += "/" + name;
        if (next.get() < 0) return Refused(walked, std::strerror(errno), errno == ENOENT);
        struct stat st {};
        if (fstat(next.get(), &st) != 0) return Refused(walked, std::strerror(errno));
        if (!OwnedByUserOrRoot(st)) return Refused(walked, "belongs to another user");
        if (S_ISLNK(st.st_mode) && (followLast || !pending.empty())) {
            const std::string target = LinkTarget(next.get());
            if (target.empty() || ++links > kMaxLinks) return Refused(walked, "unreadable link");
            if (target[0] == '/') here = UniqueFd(open("/", kLookUp | O_DIRECTORY));
            PushFront(pending, target);
            continue;
        }
        if (pending.empty()) {
            SafeOpen result;
            result.fd = std::move(next);
            return result;
        }
        if (!IsSafeFolderOnTheWay(next.get())) return Refused(walked, "others may write it");
        here = std::move(next);
    }
    // The path ends at a folder the walk stands in ("/", or a last "..").
    SafeOpen result;
    result.fd = UniqueFd(openat(here.get(), ".", kLookUp));
    return result;
}

}  // namespace os::detail
