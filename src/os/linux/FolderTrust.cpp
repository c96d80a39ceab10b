#include "os/FolderTrust.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "os/linux/SafePath.h"
#include "os/linux/UniqueFd.h"

namespace os {
namespace {

// Deeper than any real path; a walk that gets this far is not trusted to end.
constexpr int kMaxLevels = 4096;
// O_PATH: looking a level up needs no read permission on it, and a FIFO never blocks.
constexpr int kLookUp = O_PATH | O_CLOEXEC;

using Fd = detail::UniqueFd;

struct Identity {
    dev_t dev;
    ino_t ino;
    bool operator==(const Identity&) const = default;
};

Identity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino};
}

std::optional<Identity> IdentityOfPath(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
    return IdentityOf(st);
}

std::optional<Identity> HomeIdentity() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return IdentityOfPath(home);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    return found != nullptr && found->pw_dir != nullptr ? IdentityOfPath(found->pw_dir)
                                                        : std::nullopt;
}

// "/" stays itself; otherwise trailing "/" would make the kernel follow a final symlink.
std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::vector<std::string> ComponentsOf(const std::string& path) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::string Joined(bool absolute, const std::vector<std::string>& names, size_t count) {
    std::string path = absolute ? "/" : "";
    for (size_t i = 0; i < count; ++i) path += (i > 0 ? "/" : "") + names[i];
    return path.empty() ? "." : path;
}

// Whether the folder open at `folder` is `installed` or below it. Walks up through "..", which
// the kernel resolves to the real parent whatever spelling reached the folder; a walk that
// cannot reach the root cannot rule "inside" out.
bool MayBeInside(Fd folder, const Identity& installed) {
    struct stat here {};
    if (fstat(folder.get(), &here) != 0) return true;
    for (int level = 0; level < kMaxLevels; ++level) {
        if (IdentityOf(here) == installed) return true;
        Fd parent(openat(folder.get(), "..", kLookUp | O_DIRECTORY));
        struct stat up {};
        if (parent.get() < 0 || fstat(parent.get(), &up) != 0) return true;
        if (IdentityOf(up) == IdentityOf(here)) return false;  // the root is its own parent
        folder = std::move(parent);
        here = up;
    }
    return true;
}

CacheFolderRefusal JudgeExisting(Fd folder, const std::optional<Identity>& installed) {
    struct stat st {};
    if (fstat(folder.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return CacheFolderRefusal::NotAFolder;
    }
    if (IdentityOfPath("/") == IdentityOf(st)) return CacheFolderRefusal::RootFolder;
    if (HomeIdentity() == IdentityOf(st)) return CacheFolderRefusal::HomeFolder;
    if (installed && MayBeInside(std::move(folder), *installed)) {
        return CacheFolderRefusal::InstalledFolder;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return CacheFolderRefusal::SharedWritable;
    if (st.st_uid != geteuid()) return CacheFolderRefusal::NotOwned;
    return CacheFolderRefusal::None;
}

// Whether anything, even a symlink to nothing, has this name.
bool HasEntry(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Whether the way from "/" to `path` is safe; levels yet to be made are the program's own.
CacheFolderRefusal JudgePath(const std::string& path) {
    const auto reached = detail::OpenThroughSafeFolders(path, true);
    return reached.fd.get() >= 0 || reached.missing ? CacheFolderRefusal::None
                                                    : CacheFolderRefusal::UnsafePath;
}

}  // namespace

CacheFolderRefusal JudgeCacheFolder(const std::string& folder, const std::string& installedFolder) {
    std::string path = WithoutTrailingSlash(folder);
    if (path.empty()) return CacheFolderRefusal::NotAFolder;
    const auto installed = IdentityOfPath(installedFolder);
    // Each round either judges a folder or rewrites the path shorter (see below).
    for (int round = 0; round < kMaxLevels; ++round) {
        Fd existing(open(path.c_str(), kLookUp));
        if (existing.get() >= 0) {
            const CacheFolderRefusal verdict = JudgeExisting(std::move(existing), installed);
            return verdict == CacheFolderRefusal::None ? JudgePath(path) : verdict;
        }
        // A dangling symlink (or one that loops) would send the folder's creation elsewhere.
        if (errno != ENOENT || HasEntry(path)) return CacheFolderRefusal::NotAFolder;

        const bool absolute = path[0] == '/';
        const auto names = ComponentsOf(path);
        size_t kept = names.size();
        std::optional<Fd> ancestor;
        while (!ancestor && kept > 0) {
            const std::string prefix = Joined(absolute, names, --kept);
            Fd fd(open(prefix.c_str(), kLookUp | O_DIRECTORY));
            if (fd.get() >= 0) {
                ancestor.emplace(std::move(fd));
            } else if (errno != ENOENT || HasEntry(prefix)) {
                return CacheFolderRefusal::NotAFolder;
            }
        }
        if (!ancestor) return CacheFolderRefusal::NotAFolder;

        // The missing levels will be made as real folders, so a ".." among them leads back to
        // the level before it, not wherever the text would suggest. Fold those away and judge
        // the path they really mean.
        std::vector<std::string> made;
        size_t ups = 0;
        bool folded = false;
        for (size_t i = kept; i < names.size(); ++i) {
            if (names[i] == "." || names[i] == "..") {
                folded = true;
                if (names[i] == ".." && !made.empty()) {
                    made.pop_back();
                } else if (names[i] == "..") {
                    ++ups;
                }
            } else {
                made.push_back(names[i]);
            }
        }
        if (!folded) {
            return installed && MayBeInside(std::move(*ancestor), *installed)
                       ? CacheFolderRefusal::InstalledFolder
                       : JudgePath(path);
        }
        std::vector<std::string> meant(names.begin(), names.begin() + kept);
        meant.insert(meant.end(), ups, "..");
        meant.insert(meant.end(), made.begin(), made.end());
        path = Joined(absolute, meant, meant.size());
    }
    return CacheFolderRefusal::NotAFolder;
}

bool IsSafeToStart(const std::string& cacheFolder, const std::string& program) {
    const std::string cache = WithoutTrailingSlash(cacheFolder);
    if (cache.empty()) return false;
    const std::string base = cache == "/" ? cache : cache + "/";
    if (program.size() <= base.size() || program.compare(0, base.size(), base) != 0 ||
        program.back() == '/') {
        return false;
    }
    std::vector<std::string> names;
    for (auto& name : ComponentsOf(program.substr(base.size()))) {
        if (name == "..") return false;
        if (name != ".") names.push_back(std::move(name));
    }
    if (names.empty()) return false;

    const auto safe = [](const Fd& fd, bool isProgram) {
        struct stat st {};
        if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return false;
        // With O_NOFOLLOW and O_PATH a symlink opens as itself, so it fails both type tests.
        if (isProgram ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) return false;
        return (st.st_uid == geteuid() || st.st_uid == 0) &&
               (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    };
    // The way to the cache folder follows the same rule as its choice; from it on, no link.
    Fd level = detail::OpenThroughSafeFolders(cache, false).fd;
    if (!safe(level, false)) return false;
    for (size_t i = 0; i < names.size(); ++i) {
        Fd next(openat(level.get(), names[i].c_str(), kLookUp | O_NOFOLLOW));
        if (!safe(next, i + 1 == names.size())) return false;
        level = std::move(next);
    }
    return true;
}

}  // namespace os
