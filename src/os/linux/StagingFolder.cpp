#include "os/StagingFolder.h"

#include "os/FolderTree.h"
#include "os/FreeSpace.h"
#include "os/Umask.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "os/linux/OpenFolder.h"
#include "os/linux/WriteAll.h"

namespace os {
namespace {

using detail::OpenFolderAt;

// Nothing in a package may be writable by group or others: another user must never be able
// to change a program that is started from it later.
unsigned PackageModeMask() {
    return CurrentUmask() | 022;
}

// The mark's text: the identity of the folder it was written in, which a copy never has.
std::string MarkText(const struct stat& folder) {
    return "maplenook package " + std::to_string(static_cast<unsigned long long>(folder.st_dev)) +
           ":" + std::to_string(static_cast<unsigned long long>(folder.st_ino)) + "\n";
}

}  // namespace

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
