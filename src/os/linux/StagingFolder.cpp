#include "os/StagingFolder.h"

#include "os/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Removes everything inside the open folder `dir`.
bool RemoveEntriesOf(int dir) {
    std::vector<std::string> names;
    const int listFd = dup(dir);
    DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (listing == nullptr) {
        if (listFd >= 0) close(listFd);
        return false;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(listing);

    bool ok = true;
    for (const auto& name : names) {
        if (unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT) continue;
        const int sub = OpenFolderAt(dir, name.c_str());
        if (sub < 0) {
            ok = false;
            continue;
        }
        struct stat info {};
        // A read-only folder would refuse to give up its entries.
        if (fstat(sub, &info) == 0 && (info.st_mode & 0700) != 0700)
            fchmod(sub, (info.st_mode & 0777) | 0700);
        ok = RemoveEntriesOf(sub) && ok;
        close(sub);
        if (unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) ok = false;
    }
    return ok;
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

std::string ParentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

unsigned CurrentUmask() {
    static const unsigned mask = ReadUmask();
    return mask;
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
    const int dir = OpenFolderAt(AT_FDCWD, path.c_str());
    if (dir < 0) return false;
    struct stat info {};
    if (fstat(dir, &info) == 0 && (info.st_mode & 0700) != 0700)
        fchmod(dir, (info.st_mode & 0777) | 0700);
    const bool ok = RemoveEntriesOf(dir);
    close(dir);
    return rmdir(path.c_str()) == 0 && ok;
}

StagingFolder::~StagingFolder() {
    Discard();
}

void StagingFolder::Discard() {
    if (dirFd_ >= 0) close(dirFd_);
    dirFd_ = -1;
    if (!path_.empty()) RemoveTree(path_);
    path_.clear();
}

bool StagingFolder::Create(const std::string& finalPath, const std::string& prefix) {
    Discard();
    if (finalPath.empty() || finalPath.back() == '/') return false;
    const std::string parent = ParentOf(finalPath);
    if (!CreateDirectories(parent)) return false;
    std::string staged = parent + "/" + prefix + "XXXXXX";
    if (mkdtemp(staged.data()) == nullptr) return false;
    path_ = staged;
    dirFd_ = OpenFolderAt(AT_FDCWD, staged.c_str());
    if (dirFd_ < 0) {
        Discard();
        return false;
    }
    finalPath_ = finalPath;
    prefix_ = prefix;
    return true;
}

bool StagingFolder::MakeFolder(const std::string& relative) {
    if (dirFd_ < 0) return false;
    // The umask applies to the mode given here, as for any folder the user's programs make.
    if (mkdirat(dirFd_, relative.c_str(), 0777) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat info {};
    return fstatat(dirFd_, relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(info.st_mode);
}

bool StagingFolder::SetFolderMode(const std::string& relative, unsigned mode) {
    if (dirFd_ < 0) return false;
    const int folder = OpenFolderAt(dirFd_, relative.c_str());
    if (folder < 0) return false;
    const bool ok = fchmod(folder, ((mode & 0777) & ~CurrentUmask()) | 0700) == 0;
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
    return file.fd_ >= 0;
}

bool StagingFolder::Publish() {
    if (dirFd_ < 0) return false;
    const bool modeSet = fchmod(dirFd_, 0777 & ~CurrentUmask()) == 0;
    close(dirFd_);
    dirFd_ = -1;
    if (!modeSet) {
        Discard();
        return false;
    }
    const char* staged = path_.c_str();
    const char* target = finalPath_.c_str();
    if (renameat2(AT_FDCWD, staged, AT_FDCWD, target, RENAME_NOREPLACE) == 0) {
        path_.clear();
        return true;
    }
    if (errno == EEXIST) {
        // Only a folder is replaced: a file of that name is somebody else's.
        struct stat existing {};
        if (lstat(target, &existing) != 0 || !S_ISDIR(existing.st_mode)) {
            Discard();
            return false;
        }
        // One step: readers see the old folder or the new one, never neither.
        if (renameat2(AT_FDCWD, staged, AT_FDCWD, target, RENAME_EXCHANGE) != 0) {
            Discard();
            return false;
        }
        // The old folder now sits under the staged name.
        Discard();
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        Discard();
        return false;
    }
    // File systems without these rename flags: move the old folder aside, under a staging
    // name of its own so that a sweep finds it should we stop half-way.
    std::string aside = ParentOf(finalPath_) + "/" + prefix_ + "XXXXXX";
    if (mkdtemp(aside.data()) == nullptr) {
        Discard();
        return false;
    }
    const bool hadOld = rename(target, aside.c_str()) == 0;
    if (!hadOld) rmdir(aside.c_str());
    if (rename(staged, target) != 0) {
        if (hadOld) rename(aside.c_str(), target);
        Discard();
        return false;
    }
    path_.clear();
    if (hadOld) RemoveTree(aside);
    return true;
}

StagingFolder::File::~File() {
    if (fd_ >= 0) close(fd_);
}

bool StagingFolder::File::Write(const char* data, size_t size) {
    return detail::WriteAllTo(fd_, data, size);
}

bool StagingFolder::File::Finish(unsigned mode, int64_t modifyTime) {
    if (fd_ < 0) return false;
    timespec times[2] = {};
    times[0].tv_sec = static_cast<time_t>(modifyTime);
    times[1].tv_sec = static_cast<time_t>(modifyTime);
    bool ok = fchmod(fd_, (mode & 0777) & ~CurrentUmask()) == 0;
    ok = futimens(fd_, times) == 0 && ok;
    ok = close(fd_) == 0 && ok;
    fd_ = -1;
    return ok;
}

}  // namespace os
