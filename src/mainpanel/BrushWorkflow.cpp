#include "mainpanel/BrushWorkflow.h"

#include "mainpanel/PackagePaths.h"
#include "phone/StagingNames.h"

CBrushWorkflow::CBrushWorkflow(BrushServices services) : services_(std::move(services)) {}

void CBrushWorkflow::StartBrushTask(const std::string& cacheDir, const std::string& fileName,
                                    const std::string& url, std::function<void(int)> finished) {
    services_.queueTask(
        [self = shared_from_this(), cacheDir, fileName, url, finished = std::move(finished)] {
            const int started = self->EnsureAndRun(cacheDir, fileName, url);
            if (finished) finished(started);
        });
}

void CBrushWorkflow::StartFetchTask(const std::string& cacheDir, const std::string& fileName,
                                    const std::string& url) {
    services_.queueTask([self = shared_from_this(), cacheDir, fileName, url] {
        self->FetchPackage(cacheDir, fileName, url);
    });
}

void CBrushWorkflow::Notify(const std::string& base, const char* state) {
    if (services_.notifyPage) services_.notifyPage("runbrush", base + "','" + state);
}

CPackageLocks::Hold CBrushWorkflow::LockPackage(const std::string& cacheDir,
                                                const std::string& fileName, const std::string&) {
    // The package folder; archives have unique names of their own.
    std::vector<std::string> keys;
    if (auto place = LocatePackage(services_.moduleDirectory, cacheDir, fileName))
        keys.push_back("folder:" + place->folder);
    return locks_.Acquire(std::move(keys));
}

std::string CBrushWorkflow::UsableCacheDir(const std::string& cacheDir) const {
    return ::UsableCacheDir(services_.moduleDirectory, cacheDir, services_.defaultCacheDir);
}

void CBrushWorkflow::StartSweep(const std::string& cacheDir) {
    if (!services_.removeStaging) return;
    const std::string folder = CacheFolderOf(services_.moduleDirectory, UsableCacheDir(cacheDir));
    services_.queueTask([self = shared_from_this(), folder] {
        self->services_.removeStaging(folder, std::string(), false);
    });
}

void CBrushWorkflow::RemoveRunningStaging() {
    if (!services_.removeStaging) return;
    std::multiset<std::pair<std::string, std::string>> running;
    {
        std::lock_guard<std::mutex> guard(runningMutex_);
        closing_ = true;
        running = running_;
    }
    for (const auto& [folder, base] : running) services_.removeStaging(folder, base, true);
}

bool CBrushWorkflow::Closing() {
    std::lock_guard<std::mutex> guard(runningMutex_);
    return closing_;
}

int CBrushWorkflow::EnsureAndRun(const std::string& cacheSetting, const std::string& fileName,
                                 const std::string& url) {
    const std::string cacheDir = UsableCacheDir(cacheSetting);
    // No cache folder at all: an empty one would mean the installed folder.
    if (cacheDir.empty()) return 0;
    const auto base = PackageBaseName(fileName);
    const auto place = LocatePackage(services_.moduleDirectory, cacheDir, fileName);
    if (!base || !place) return 0;

    {
        auto hold = LockPackage(cacheDir, fileName, url);
        if (!services_.fileExists(place->program)) {
            switch (FetchLocked(cacheDir, fileName, url)) {
                case FetchOutcome::NotAttempted:
                case FetchOutcome::DownloadFailed:
                    return 0;  // what the fetch told the page stands
                case FetchOutcome::NoProgram:
                    Notify(*base, "run.error");
                    return 0;
                case FetchOutcome::Ready:
                    break;
            }
        }
    }

    if (!RunProgram(place->folder, place->program)) {
        Notify(*base, "run.error");
        return 0;
    }
    if (services_.hideMainPanel) services_.hideMainPanel();
    Notify(*base, "run");
    if (services_.afterStart) services_.afterStart(fileName);
    return 1;
}

int CBrushWorkflow::FetchPackage(const std::string& cacheSetting, const std::string& fileName,
                                 const std::string& url) {
    const std::string cacheDir = UsableCacheDir(cacheSetting);
    if (cacheDir.empty()) return 0;
    auto hold = LockPackage(cacheDir, fileName, url);
    return FetchLocked(cacheDir, fileName, url) == FetchOutcome::Ready ? 1 : 0;
}

CBrushWorkflow::FetchOutcome CBrushWorkflow::FetchLocked(const std::string& cacheDir,
                                                         const std::string& fileName,
                                                         const std::string& url) {
    const auto base = PackageBaseName(fileName);
    const auto place = LocatePackage(services_.moduleDirectory, cacheDir, fileName);
    if (!base || !place || !PackageArchiveName(url)) return FetchOutcome::NotAttempted;

    const std::string cacheFolder = CacheFolderOf(services_.moduleDirectory, cacheDir);
    const auto key = std::make_pair(cacheFolder, *base);
    {
        std::lock_guard<std::mutex> guard(runningMutex_);
        running_.insert(key);
    }
    struct Unregister {
        CBrushWorkflow& flow;
        std::pair<std::string, std::string> key;
        ~Unregister() {
            std::lock_guard<std::mutex> guard(flow.runningMutex_);
            flow.running_.erase(flow.running_.find(key));
        }
    } unregister{*this, key};
    // What an earlier run left when it was killed; this package's lock keeps ours apart.
    if (services_.removeStaging) services_.removeStaging(cacheFolder, *base, false);

    Notify(*base, "download");
    if (Closing()) return FetchOutcome::DownloadFailed;
    if (services_.makeCacheFolder) services_.makeCacheFolder(cacheFolder);
    // Never the address's last part: that could name any file of the cache folder.
    const std::string archive = cacheFolder + DownloadStagingPrefix(*base) + UniqueStagingSuffix();
    if (!services_.downloadToFile(url, archive)) {
        Notify(*base, "download.error");
        return FetchOutcome::DownloadFailed;
    }
    Notify(*base, "unzip");
    // A failed extraction leaves the previous package folder (or none) as it was.
    const bool extracted = !Closing() && services_.unzipTo(archive, place->folder);
    services_.removeFile(archive);
    if (!extracted) return FetchOutcome::NoProgram;
    return services_.fileExists(place->program) ? FetchOutcome::Ready : FetchOutcome::NoProgram;
}

int CBrushWorkflow::RunProgram(const std::string& directory, const std::string& file) {
    return services_.startProgram(directory, file) ? 1 : 0;
}
