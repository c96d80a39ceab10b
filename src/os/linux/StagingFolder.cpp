#include "os/StagingFolder.h"

#include "os/FileOps.h"
#include "os/FreeSpace.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "os/linux/WriteAll.h"

namespace os {
namespace {

int OpenFolderAt(int at, const char* path) {
    return openat(at, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Opens the folder `name` inside `at` for emptying, never through a symlink, and adds its
// owner's rwx when missing: a read-only folder would refuse to give up its entries. With
// `device`, only a folder on that file system is opened, so a mount inside is never emptied.
int OpenFolderForRemoval(int at, const char* name, const dev_t* device, struct stat& info) {
    if (fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)) return -1;
    if (device != nullptr && info.st_dev != *device) return -1;
    int fd = OpenFolderAt(at, name);
    if (fd < 0 && errno == EACCES) {
        // Unreadable: its mode changes by name (glibc refuses a symlink here), then it opens.
        fchmodat(at, name, (info.st_mode & 07777) | 0700, AT_SYMLINK_NOFOLLOW);
        fd = OpenFolderAt(at, name);
    }
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

// Nothing in a package may be writable by group or others: another user must never be able
// to change a program that is started from it later.
unsigned PackageModeMask() {
    return CurrentUmask() | 022;
}

unsigned ReadUmask() {
    // The umask call itself can only be read by changing it, which races with other threads.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    }
    const mode_t mask = umask(022);
    umask(mask);
    return static_cast<unsigned>(mask) & 0777;
}

// The mark's text: the identity of the folder it was written in, which a copy never has.
std::string MarkText(const struct stat& folder) {
    return "maplenook package " + std::to_string(static_cast<unsigned long long>(folder.st_dev)) +
           ":" + std::to_string(static_cast<unsigned long long>(folder.st_ino)) + "\n";
}

}  // namespace

unsigned CurrentUmask() {
    // Read once per process: a forked child that sets its own umask reads it again.
    static std::atomic<pid_t> readBy{0};
    static std::atomic<unsigned> mask{0};
    const pid_t self = getpid();
    if (readBy.load() != self) {
        mask.store(ReadUmask());
        readBy.store(self);
    }
    return mask.load();
}

int64_t ProcessStartTime() {
    // Field 22 of /proc/self/stat: clock ticks from boot to the start; the clocks give now.
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    timespec now{}, sinceBoot{};
    if (field.empty() || ticksPerSecond <= 0 || clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0) {
        return 0;
    }
    const int64_t startedAfterBootMs =
        static_cast<int64_t>(std::strtoull(field.c_str(), nullptr, 10)) * 1000 / ticksPerSecond;
    const int64_t nowMs = now.tv_sec * 1000LL + now.tv_nsec / 1000000;
    const int64_t bootMs = sinceBoot.tv_sec * 1000LL + sinceBoot.tv_nsec / 1000000;
    return nowMs - (bootMs - startedAfterBootMs);
}

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

bool MakeFolderPrivately(const std::string& folder) {
    return CreateDirectories(folder, 0700);
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

StagingFolder::~StagingFolder() {
    Discard();
}

void StagingFolder::Discard() {
    // The clean-up keeps errno, so that the caller still learns why the failing step failed.
    const int cause = errno;
    if (dirFd_ >= 0) close(dirFd_);
    dirFd_ = -1;
    if (!path_.empty()) RemoveTree(path_);
    path_.clear();
    errno = cause;
}

bool StagingFolder::Create(const std::string& stagingHome, const std::string& finalPath,
                           const std::string& prefix) {
    Discard();
    if (stagingHome.empty() || finalPath.empty() || finalPath.back() == '/') return false;
    std::string staged = stagingHome + "/" + prefix + "XXXXXX";
    if (mkdtemp(staged.data()) == nullptr) return false;
    path_ = staged;
    dirFd_ = OpenFolderAt(AT_FDCWD, staged.c_str());
    if (dirFd_ < 0) {
        Discard();
        return false;
    }
    finalPath_ = finalPath;
    stagingHome_ = stagingHome;
    return true;
}

bool StagingFolder::MakeFolder(const std::string& relative) {
    if (dirFd_ < 0) return false;
    if (mkdirat(dirFd_, relative.c_str(), 0777 & ~PackageModeMask()) == 0) return true;
    if (errno != EEXIST) return Failed();
    struct stat info {};
    return fstatat(dirFd_, relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(info.st_mode);
}

bool StagingFolder::SetFolderMode(const std::string& relative, unsigned mode) {
    if (dirFd_ < 0) return false;
    const int folder = OpenFolderAt(dirFd_, relative.c_str());
    if (folder < 0) return Failed();
    const bool ok = fchmod(folder, ((mode & 0777) & ~PackageModeMask()) | 0700) == 0 || Failed();
    close(folder);
    return ok;
}

bool StagingFolder::CreateFile(const std::string& relative, File& file) {
    if (dirFd_ < 0 || file.fd_ >= 0) return false;
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    // The folder is new and ours alone, so only an archive naming a file twice finds one.
    file.fd_ = openat(dirFd_, relative.c_str(), kFlags, 0600);
    if (file.fd_ < 0 && errno == EEXIST && unlinkat(dirFd_, relative.c_str(), 0) == 0)
        file.fd_ = openat(dirFd_, relative.c_str(), kFlags, 0600);
    return file.fd_ >= 0 || Failed();
}

bool StagingFolder::WriteMark(const std::string& markName) {
    struct stat self {};
    if (fstat(dirFd_, &self) != 0) return false;
    // An archive may hold a file of the mark's name; ours replaces it.
    unlinkat(dirFd_, markName.c_str(), 0);
    const int fd = openat(dirFd_, markName.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string text = MarkText(self);
    const bool ok = detail::WriteAllTo(fd, text.data(), text.size());
    return close(fd) == 0 && ok;
}

StagingFolder::PublishResult StagingFolder::Publish(const std::string& markName) {
    if (dirFd_ < 0) return PublishResult::Failed;
    const bool ready = WriteMark(markName) && fchmod(dirFd_, 0755 & ~CurrentUmask()) == 0;
    close(dirFd_);
    dirFd_ = -1;
    if (!ready) {
        Discard();
        return PublishResult::Failed;
    }
    const char* staged = path_.c_str();
    const char* target = finalPath_.c_str();
    if (renameat2(AT_FDCWD, staged, AT_FDCWD, target, RENAME_NOREPLACE) == 0) {
        path_.clear();
        return PublishResult::Published;
    }
    if (errno == EEXIST) {
        // Only a folder this program published is replaced: anything else there is the
        // user's, however much it looks like a package.
        if (StateOfPublished(finalPath_, markName) != PublishedState::Ours) {
            Discard();
            return PublishResult::InTheWay;
        }
        // One step: readers see the old folder or the new one, never neither.
        if (renameat2(AT_FDCWD, staged, AT_FDCWD, target, RENAME_EXCHANGE) != 0) {
            Discard();
            return PublishResult::Failed;
        }
        // The old folder now sits under the staged name.
        Discard();
        return PublishResult::Published;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        Discard();
        return PublishResult::Failed;
    }
    // File systems without these rename flags: move the old folder aside into the staging
    // folder, so that a sweep finds it should we stop half-way.
    const PublishedState there = StateOfPublished(finalPath_, markName);
    if (there == PublishedState::Foreign) {
        Discard();
        return PublishResult::InTheWay;
    }
    std::string aside = stagingHome_ + "/replaced-XXXXXX";
    if (mkdtemp(aside.data()) == nullptr) {
        Discard();
        return PublishResult::Failed;
    }
    const bool hadOld = there == PublishedState::Ours && rename(target, aside.c_str()) == 0;
    if (!hadOld) rmdir(aside.c_str());
    if (rename(staged, target) != 0) {
        if (hadOld) rename(aside.c_str(), target);
        Discard();
        return PublishResult::Failed;
    }
    path_.clear();
    if (hadOld) RemoveTree(aside);
    return PublishResult::Published;
}

PublishedState StateOfPublished(const std::string& path, const std::string& markName) {
    const int dir = OpenFolderAt(AT_FDCWD, path.c_str());
    if (dir < 0) {
        struct stat there {};
        return lstat(path.c_str(), &there) != 0 && errno == ENOENT ? PublishedState::Missing
                                                                   : PublishedState::Foreign;
    }
    struct stat self {
    }, mark{};
    char text[128] = {};
    ssize_t length = -1;
    const int fd = openat(dir, markName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        if (fstat(fd, &mark) == 0 && S_ISREG(mark.st_mode) && mark.st_uid == geteuid())
            length = read(fd, text, sizeof text - 1);
        close(fd);
    }
    const bool ours = length > 0 && fstat(dir, &self) == 0 && self.st_uid == geteuid() &&
                      std::string(text, static_cast<size_t>(length)) == MarkText(self);
    close(dir);
    return ours ? PublishedState::Ours : PublishedState::Foreign;
}

bool MakeStagingHome(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    const int dir = OpenFolderAt(AT_FDCWD, path.c_str());
    if (dir < 0) return false;
    struct stat info {};
    bool ok = fstat(dir, &info) == 0 && info.st_uid == geteuid();
    // Ours, but opened up by someone: close it again before anything is staged in it.
    if (ok && (info.st_mode & 077) != 0) ok = fchmod(dir, 0700) == 0;
    close(dir);
    return ok;
}

StagingFolder::File::~File() {
    if (fd_ >= 0) close(fd_);
}

bool StagingFolder::File::Write(const char* data, size_t size) {
    return detail::WriteAllTo(fd_, data, size) || Failed();
}

bool StagingFolder::File::Finish(unsigned mode, int64_t modifyTime) {
    if (fd_ < 0) return false;
    timespec times[2] = {};
    times[0].tv_sec = static_cast<time_t>(modifyTime);
    times[1].tv_sec = static_cast<time_t>(modifyTime);
    bool ok = fchmod(fd_, (mode & 0777) & ~PackageModeMask()) == 0 || Failed();
    ok = (futimens(fd_, times) == 0 || Failed()) && ok;
    // A network file system may report a full disk or quota only when the file is closed.
    ok = (close(fd_) == 0 || Failed()) && ok;
    fd_ = -1;
    return ok;
}

bool StagingFolder::File::Failed() {
    outOfRoom_ = outOfRoom_ || IsOutOfRoom(errno);
    return false;
}

bool StagingFolder::Failed() {
    outOfRoom_ = outOfRoom_ || IsOutOfRoom(errno);
    return false;
}

}  // namespace os
