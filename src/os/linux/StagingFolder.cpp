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
#include <memory>
#include <string>

#include "os/linux/FolderCarry.h"
#include "os/linux/FolderUsers.h"
#include "os/linux/OpenFolder.h"
#include "os/linux/PackageMark.h"
#include "os/linux/UniqueFd.h"
#include "os/linux/WriteAll.h"

namespace os {
namespace {

using detail::OpenFolderAt;

// Nothing in a package may be writable by group or others: another user must never be able
// to change a program that is started from it later.
unsigned PackageModeMask() {
    return CurrentUmask() | 022;
}

// The last part of a path, without a trailing "/".
std::string FolderNameOf(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path.substr(path.rfind('/') + 1);
}

// What the open folder `dir` at a path ending in `folderName` is (see StateOfPublished).
PublishedState JudgeFolder(int dir, const std::string& folderName, const std::string& markName,
                           const std::string& stagingHome, detail::MarkRead& mark) {
    struct stat self {};
    if (fstat(dir, &self) != 0 || self.st_uid != geteuid()) return PublishedState::Foreign;
    mark = detail::ReadMarkFile(dir, markName);
    switch (mark.kind) {
        case detail::MarkKind::None:
            return PublishedState::Unmarked;
        case detail::MarkKind::Legacy:
            // An earlier version's mark is good for as long as the device it names stays.
            return detail::LegacyMarkFits(dir, mark.text) ? PublishedState::Ours
                                                          : PublishedState::Unmarked;
        case detail::MarkKind::Current:
            return detail::MarkRecorded(stagingHome, folderName, self.st_ino, mark.fields["token"])
                       ? PublishedState::Ours
                       : PublishedState::Foreign;
        case detail::MarkKind::Invalid:
            break;
    }
    return PublishedState::Foreign;
}

}  // namespace

struct StagingFolder::Native {
    int dirFd = -1;
};

struct StagingFolder::File::Native {
    int fd = -1;
};

StagingFolder::StagingFolder() : native_(std::make_unique<Native>()) {}

StagingFolder::File::File() : native_(std::make_unique<Native>()) {}

StagingFolder::~StagingFolder() {
    Discard();
}

void StagingFolder::Discard() {
    // The clean-up keeps errno, so that the caller still learns why the failing step failed.
    const int cause = errno;
    if (native_->dirFd >= 0) close(native_->dirFd);
    native_->dirFd = -1;
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
    native_->dirFd = OpenFolderAt(AT_FDCWD, staged.c_str());
    if (native_->dirFd < 0) {
        Discard();
        return false;
    }
    finalPath_ = finalPath;
    stagingHome_ = stagingHome;
    return true;
}

bool StagingFolder::MakeFolder(const std::string& relative) {
    if (native_->dirFd < 0) return false;
    struct stat info {};
    if (mkdirat(native_->dirFd, relative.c_str(), 0777 & ~PackageModeMask()) != 0 &&
        (errno != EEXIST ||
         fstatat(native_->dirFd, relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
         !S_ISDIR(info.st_mode)))
        return errno == EEXIST ? false : Failed();
    entries_.insert(relative + "/");
    return true;
}

bool StagingFolder::SetFolderMode(const std::string& relative, unsigned mode) {
    if (native_->dirFd < 0) return false;
    const int folder = OpenFolderAt(native_->dirFd, relative.c_str());
    if (folder < 0) return Failed();
    const bool ok = fchmod(folder, ((mode & 0777) & ~PackageModeMask()) | 0700) == 0 || Failed();
    close(folder);
    return ok;
}

bool StagingFolder::CreateFile(const std::string& relative, File& file) {
    if (native_->dirFd < 0 || file.native_->fd >= 0) return false;
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    // The folder is new and ours alone, so only an archive naming a file twice finds one.
    file.native_->fd = openat(native_->dirFd, relative.c_str(), kFlags, 0600);
    if (file.native_->fd < 0 && errno == EEXIST &&
        unlinkat(native_->dirFd, relative.c_str(), 0) == 0)
        file.native_->fd = openat(native_->dirFd, relative.c_str(), kFlags, 0600);
    if (file.native_->fd < 0) return Failed();
    entries_.insert(relative);
    return true;
}

void StagingFolder::AddMarkField(const std::string& key, const std::string& value) {
    markFields_.emplace_back(key, value);
}

bool StagingFolder::WriteMarkAndManifest(const std::string& markName,
                                         const std::string& manifestName) {
    token_ = detail::NewMarkToken();
    // An archive's files of these names were replaced by ours: they are no entries of it.
    for (const auto& own : {markName, manifestName}) {
        entries_.erase(own);
        entries_.erase(own + "/");
    }
    return !token_.empty() &&
           detail::WriteMarkFile(native_->dirFd, markName, token_, markFields_) &&
           WriteManifest(manifestName);
}

bool StagingFolder::WriteManifest(const std::string& manifestName) {
    return detail::WriteManifest(native_->dirFd, manifestName, entries_);
}

StagingFolder::PublishResult StagingFolder::Fail(PublishResult result) {
    const int cause = errno;
    if (!token_.empty()) detail::ForgetMark(stagingHome_, token_);
    token_.clear();
    errno = cause;
    Discard();
    return result;
}

StagingFolder::PublishResult StagingFolder::Publish(const std::string& markName,
                                                    const std::string& manifestName) {
    if (native_->dirFd < 0) return PublishResult::Failed;
    struct stat self {};
    // Recorded before the folder takes its name: a stop right after leaves it recognised.
    const bool ready =
        WriteMarkAndManifest(markName, manifestName) && fstat(native_->dirFd, &self) == 0 &&
        fchmod(native_->dirFd, 0755 & ~CurrentUmask()) == 0 &&
        detail::RecordMark(stagingHome_, FolderNameOf(finalPath_), self.st_ino, token_);
    if (!ready) return Fail(PublishResult::Failed);
    if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, finalPath_.c_str(), RENAME_NOREPLACE) == 0) {
        path_.clear();
        Discard();
        return PublishResult::Published;
    }
    if (errno == EEXIST) return ReplaceExisting(markName, manifestName);
    if (errno != EINVAL && errno != ENOSYS) return Fail(PublishResult::Failed);
    return ReplaceWithoutExchange(markName, manifestName);
}

StagingFolder::PublishResult StagingFolder::TakeOver(const Native& oldFolder,
                                                     const std::string& markName,
                                                     const std::string& manifestName,
                                                     std::string& oldToken) {
    const int old = oldFolder.dirFd;
    detail::MarkRead mark;
    const std::set<std::string> own{markName, manifestName};
    if (detail::ProcessWorksIn(old)) return PublishResult::InUse;
    switch (JudgeFolder(old, FolderNameOf(finalPath_), markName, stagingHome_, mark)) {
        case PublishedState::Ours: {
            oldToken = mark.fields["token"];
            // Without a manifest (an earlier version's folder) nothing of it is known to be
            // the archive's: all of it beyond the new archive stays.
            const auto listed = detail::ReadManifest(old, manifestName);
            detail::EntryList kept;
            if (!detail::CarryToolData(old, native_->dirFd, listed ? &*listed : nullptr, own, kept))
                return PublishResult::Failed;
            // The tool's files kept in place of the archive's are no longer the archive's.
            for (const auto& entry : kept) entries_.erase(entry);
            return kept.empty() || WriteManifest(manifestName) ? PublishResult::Published
                                                               : PublishResult::Failed;
        }
        case PublishedState::Unmarked:
            // Only an extraction of this same archive is taken over: nothing of the user's is
            // in it to lose.
            return detail::HoldsOnlyWhatIsIn(old, native_->dirFd, own) ? PublishResult::Published
                                                                       : PublishResult::InTheWay;
        case PublishedState::Missing:
        case PublishedState::Foreign:
            break;
    }
    return PublishResult::InTheWay;
}

StagingFolder::PublishResult StagingFolder::ReplaceExisting(const std::string& markName,
                                                            const std::string& manifestName) {
    std::string oldToken;
    {
        detail::UniqueFd old(detail::OpenFolderAt(AT_FDCWD, finalPath_.c_str()));
        // A file or a link of the folder's name is the user's.
        if (old.get() < 0) return Fail(PublishResult::InTheWay);
        const PublishResult ready = TakeOver(Native{old.get()}, markName, manifestName, oldToken);
        if (ready != PublishResult::Published) return Fail(ready);
    }
    // One step: readers see the old folder or the new one, never neither.
    if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, finalPath_.c_str(), RENAME_EXCHANGE) != 0)
        return Fail(PublishResult::Failed);
    token_.clear();
    if (!oldToken.empty()) detail::ForgetMark(stagingHome_, oldToken);
    // The old folder now sits under the staged name.
    Discard();
    return PublishResult::Published;
}

StagingFolder::PublishResult StagingFolder::ReplaceWithoutExchange(
    const std::string& markName, const std::string& manifestName) {
    // File systems without these rename flags: move the old folder aside into the staging
    // folder, so that a sweep finds it should we stop half-way.
    const char* target = finalPath_.c_str();
    std::string oldToken;
    detail::UniqueFd old(detail::OpenFolderAt(AT_FDCWD, target));
    struct stat there {};
    if (old.get() < 0 && !(lstat(target, &there) != 0 && errno == ENOENT))
        return Fail(PublishResult::InTheWay);
    if (old.get() >= 0) {
        const PublishResult ready = TakeOver(Native{old.get()}, markName, manifestName, oldToken);
        if (ready != PublishResult::Published) return Fail(ready);
    }
    std::string aside = stagingHome_ + "/replaced-XXXXXX";
    if (mkdtemp(aside.data()) == nullptr) return Fail(PublishResult::Failed);
    const bool hadOld = old.get() >= 0 && rename(target, aside.c_str()) == 0;
    if (!hadOld) rmdir(aside.c_str());
    if (rename(path_.c_str(), target) != 0) {
        if (hadOld) rename(aside.c_str(), target);
        return Fail(PublishResult::Failed);
    }
    path_.clear();
    token_.clear();
    if (!oldToken.empty()) detail::ForgetMark(stagingHome_, oldToken);
    Discard();
    if (hadOld) RemoveTree(aside);
    return PublishResult::Published;
}

PublishedState StateOfPublished(const std::string& path, const std::string& markName,
                                const std::string& stagingHome) {
    detail::UniqueFd dir(detail::OpenFolderAt(AT_FDCWD, path.c_str()));
    if (dir.get() < 0) {
        struct stat there {};
        return lstat(path.c_str(), &there) != 0 && errno == ENOENT ? PublishedState::Missing
                                                                   : PublishedState::Foreign;
    }
    detail::MarkRead mark;
    return JudgeFolder(dir.get(), FolderNameOf(path), markName, stagingHome, mark);
}

std::optional<std::map<std::string, std::string>> PublishedMarkFields(
    const std::string& path, const std::string& markName, const std::string& stagingHome) {
    detail::UniqueFd dir(detail::OpenFolderAt(AT_FDCWD, path.c_str()));
    detail::MarkRead mark;
    if (dir.get() < 0 || JudgeFolder(dir.get(), FolderNameOf(path), markName, stagingHome, mark) !=
                             PublishedState::Ours)
        return std::nullopt;
    return mark.fields;
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
    if (native_->fd >= 0) close(native_->fd);
}

bool StagingFolder::File::Write(const char* data, size_t size) {
    return detail::WriteAllTo(native_->fd, data, size) || Failed();
}

bool StagingFolder::File::Finish(unsigned mode, int64_t modifyTime) {
    if (native_->fd < 0) return false;
    timespec times[2] = {};
    times[0].tv_sec = static_cast<time_t>(modifyTime);
    times[1].tv_sec = static_cast<time_t>(modifyTime);
    bool ok = fchmod(native_->fd, (mode & 0777) & ~PackageModeMask()) == 0 || Failed();
    ok = (futimens(native_->fd, times) == 0 || Failed()) && ok;
    // A network file system may report a full disk or quota only when the file is closed.
    ok = (close(native_->fd) == 0 || Failed()) && ok;
    native_->fd = -1;
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
