#include "package/PackageCache.h"

#include "os/FileOps.h"
#include "os/FolderTree.h"
#include "os/FolderTrust.h"
#include "os/PrivateFolder.h"
#include "os/ProcessClock.h"
#include "os/StagingFolder.h"
#include "os/UserDirs.h"
#include "package/ResumableParts.h"
#include "package/StagingNames.h"

#include <chrono>
#include <set>
#include <utility>

std::string DefaultCacheFolder() {
    const std::string cache = os::UserCacheDirectory();
    if (!cache.empty()) return cache + "/MapleNook/packages";
    std::string fallback = os::PrivateUserFolder("maplenook-packages");
    if (!fallback.empty()) fallback.pop_back();
    return fallback;
}

std::string CacheFolderRefusalMessage(const std::string& folder,
                                      const std::string& moduleDirectory) {
    switch (os::JudgeCacheFolder(folder, moduleDirectory)) {
        case os::CacheFolderRefusal::None:
            return {};
        case os::CacheFolderRefusal::NotAFolder:
            return "这不是一个文件夹，请选择其他文件夹作为缓存目录。";
        case os::CacheFolderRefusal::SharedWritable:
            return "其他用户也能写入这个文件夹，他们放入的程序可能会以你的身份运行。"
                   "请选择只有你能写入的文件夹作为缓存目录。";
        case os::CacheFolderRefusal::NotOwned:
            return "这个文件夹不属于你，请选择你自己的文件夹作为缓存目录。";
        case os::CacheFolderRefusal::HomeFolder:
            return "不能把主文件夹本身作为缓存目录，请在其中新建一个文件夹再选择它。";
        case os::CacheFolderRefusal::RootFolder:
            return "不能把根目录作为缓存目录，请选择其他文件夹。";
        case os::CacheFolderRefusal::InstalledFolder:
            return "不能把 MapleNook 的安装目录或其中的文件夹作为缓存目录，请选择其他文件夹。";
        case os::CacheFolderRefusal::UnsafePath:
            return "通往这个文件夹的路径上有其他用户的文件夹或其他用户能写入的文件夹，"
                   "他们可以把它换掉。请选择只经过你或系统的文件夹的位置作为缓存目录。";
    }
    return {};
}

bool MakeCacheFolder(const std::string& folder) {
    return os::CreateDirectories(folder, 0700) && os::MakeStagingHome(StagingHomeOf(folder));
}

void RemoveStagingLeftovers(const std::string& folder, const std::string& name, bool alsoThisRun) {
    if (folder.empty()) return;
    const int64_t started = alsoThisRun ? 0 : os::ProcessStartTime();
    // Without a start time nothing tells a leftover from the work of this run.
    if (!alsoThisRun && started == 0) return;
    const std::string home = StagingHomeOf(folder);
    // Only a staging folder that is really ours is ever swept.
    if (!os::MakeStagingHome(home)) return;
    const std::string prefix = home + "/";
    const auto entries = os::ListFolderEntries(home);
    // A part kept for resuming stays while its sidecar is young enough to be of use.
    std::set<std::pair<std::string, std::string>> resumable;  // (package, suffix)
    const int64_t keptSince =
        std::chrono::duration_cast<std::chrono::milliseconds>(
            (std::chrono::system_clock::now() - kPartKeptFor).time_since_epoch())
            .count();
    for (const auto& entry : entries) {
        StagingNameParts parts;
        if (!alsoThisRun && SplitStagingName(entry.name, parts) && parts.kind == ".resume-" &&
            entry.changeTime >= keptSince)
            resumable.emplace(parts.name, parts.suffix);
    }
    for (const auto& entry : entries) {
        StagingNameParts parts;
        if (!SplitStagingName(entry.name, parts) || (!name.empty() && parts.name != name)) continue;
        if (!alsoThisRun && entry.changeTime >= started) continue;
        if (parts.kind != ".unzip-" && resumable.count({parts.name, parts.suffix}) != 0) continue;
        // A worker still writing may add an entry while the tree goes; a second pass takes it.
        if (!os::RemoveTree(prefix + entry.name)) os::RemoveTree(prefix + entry.name);
    }
}
