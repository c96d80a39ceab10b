#include "os/FolderTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "os/linux/OpenFolder.h"

namespace os {
namespace {

using detail::OpenFolderAt;

// Opens the folder `name` inside `at` for emptying, never through a symlink, and adds its
// owner's rwx when missing: a read-only folder would refuse to give up its entries. With
// `device`, only a folder on that file system is opened, so a mount inside is never emptied.
int OpenFolderForRemoval(int at, const char* name, const dev_t* device, struct stat& info) {
    if (fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)) return -1;
    if (device != nullptr && info.st_dev != *device) return -1;
    int fd = OpenFolderAt(at, name);
    // Unreadable: its mode changes by name (glibc refuses a symlink here), then it opens.
    if (fd < 0 && errno == EACCES &&
        fchmodat(at, name, (info.st_mode & 07777) | 0700, AT_SYMLINK_NOFOLLOW) == 0)
        fd = OpenFolderAt(at, name);
    if (fd < 0) return -1;
    struct stat opened {};
    // The name may have been swapped for another folder between the look and the open.
    if (fstat(fd, &opened) != 0 || opened.st_dev != info.st_dev || opened.st_ino != info.st_ino) {
        close(fd);
        return -1;
    }
    if ((opened.st_mode & 0700) != 0700) fchmod(fd, (opened.st_mode & 07777) | 0700);
    return fd;
}

// Removes every entry of the open folder `dir` that is not a folder; the names of its
// folders, left to empty first. `ok` turns false when an entry could not be removed.
std::vector<std::string> RemoveFilesOf(int dir, bool& ok) {
    std::vector<std::string> names;
    const int listFd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (listing == nullptr) {
        if (listFd >= 0) close(listFd);
        ok = false;
        return {};
    }
    // All names first: removing entries while the listing goes on may hide others from it.
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(listing);

    std::vector<std::string> folders;
    for (auto& name : names) {
        if (unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT) continue;
        if (errno == EISDIR || errno == EPERM) {
            folders.push_back(std::move(name));
        } else {
            ok = false;
        }
    }
    return folders;
}

// A folder on the way down and the folders inside it still to empty.
struct OpenedLevel {
    std::string name;  // in the folder above
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<std::string> folders;
};

// Removes everything inside the open folder `dir`, however deep, with at most three more
// descriptors open: only the folder being emptied is held, and the way back up is "..",
// checked to be the folder we came down through.
bool RemoveEntriesOf(int dir) {
    struct stat top {};
    if (fstat(dir, &top) != 0) return false;
    int current = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    if (current < 0) return false;
    bool ok = true;
    std::vector<OpenedLevel> levels;
    levels.push_back({"", top.st_dev, top.st_ino, RemoveFilesOf(current, ok)});
    for (;;) {
        if (!levels.back().folders.empty()) {
            std::string name = std::move(levels.back().folders.back());
            levels.back().folders.pop_back();
            struct stat info {};
            const int sub = OpenFolderForRemoval(current, name.c_str(), &top.st_dev, info);
            if (sub < 0) {
                ok = false;
                continue;
            }
            close(current);
            current = sub;
            levels.push_back({std::move(name), info.st_dev, info.st_ino, {}});
            levels.back().folders = RemoveFilesOf(current, ok);
            continue;
        }
        if (levels.size() == 1) break;
        const OpenedLevel& above = levels[levels.size() - 2];
        const int parent = OpenFolderAt(current, "..");
        struct stat info {};
        if (parent < 0 || fstat(parent, &info) != 0 || info.st_dev != above.device ||
            info.st_ino != above.inode) {
            // Moved away while we were inside: there is no safe way back.
            if (parent >= 0) close(parent);
            close(current);
            return false;
        }
        close(current);
        current = parent;
        if (unlinkat(current, levels.back().name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            ok = false;
        levels.pop_back();
    }
    close(current);
    return ok;
}

}  // namespace

std::vector<FolderEntryFacts> ListFolderEntries(const std::string& folder) {
    std::vector<FolderEntryFacts> entries;
    const int dir = OpenFolderAt(AT_FDCWD, folder.c_str());
    if (dir < 0) return entries;
    DIR* listing = fdopendir(dir);
    if (listing == nullptr) {
        close(dir);
        return entries;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (fstatat(dir, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        entries.push_back({name, static_cast<int64_t>(info.st_ctim.tv_sec) * 1000 +
                                     info.st_ctim.tv_nsec / 1000000});
    }
    closedir(listing);
    return entries;
}

bool RemoveTree(const std::string& path) {
    if (path.empty()) return false;
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    struct stat info {};
    const int dir = OpenFolderForRemoval(AT_FDCWD, path.c_str(), nullptr, info);
    if (dir < 0) return false;
    const bool ok = RemoveEntriesOf(dir);
    close(dir);
    return rmdir(path.c_str()) == 0 && ok;
}

}  // namespace os
