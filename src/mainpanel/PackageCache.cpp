#include "mainpanel/PackageCache.h"

#include "os/PrivateFolder.h"
#include "os/StagingFolder.h"
#include "os/UserDirs.h"
#include "phone/StagingNames.h"

std::string DefaultCacheFolder() {
    const std::string cache = os::UserCacheDirectory();
    if (!cache.empty()) return cache + "/MapleNook/packages";
    std::string fallback = os::PrivateUserFolder("maplenook-packages");
    if (!fallback.empty()) fallback.pop_back();
    return fallback;
}

bool MakeCacheFolder(const std::string& folder) {
    return os::MakeFolderPrivately(folder);
}

void RemoveStagingLeftovers(const std::string& folder, const std::string& name, bool alsoThisRun) {
    if (folder.empty()) return;
    const int64_t started = alsoThisRun ? 0 : os::ProcessStartTime();
    // Without a start time nothing tells a leftover from the work of this run.
    if (!alsoThisRun && started == 0) return;
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    for (const auto& entry : os::ListFolderEntries(folder)) {
        const bool ours =
            name.empty() ? IsStagingName(entry.name) : IsStagingNameOf(entry.name, name);
        if (!ours || (!alsoThisRun && entry.changeTime >= started)) continue;
        // A worker still writing may add an entry while the tree goes; a second pass takes it.
        if (!os::RemoveTree(prefix + entry.name)) os::RemoveTree(prefix + entry.name);
    }
}
