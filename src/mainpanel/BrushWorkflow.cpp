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

void CBrushWorkflow::Notify(const std::string& base, const char* state, const std::string& cause) {
    if (!services_.notifyPage) return;
    std::vector<std::string> args{base, state};
    if (!cause.empty() && causesOn_) args.push_back(cause);
    services_.notifyPage("runbrush", args);
}

void CBrushWorkflow::SetPageProgress(bool on) {
    progressOn_ = on;
    causesOn_ = true;
}

void CBrushWorkflow::CancelBrush(const std::string& fileName) {
    causesOn_ = true;
    std::lock_guard<std::mutex> guard(runningMutex_);
    if (fetching_.count(fileName) != 0) cancelled_.insert(fileName);
}

bool CBrushWorkflow::IsCancelled(const std::string& fileName) {
    std::lock_guard<std::mutex> guard(runningMutex_);
    return cancelled_.count(fileName) != 0;
}

void CBrushWorkflow::NotifyProgress(const std::string& base, int64_t done, int64_t total,
                                    const char* phase, bool last) {
    if (!progressOn_ || !services_.notifyPage) return;
    const auto now = std::chrono::steady_clock::now();
    {
        // Ten a second is as often as a bar can usefully move; the last one always goes.
        std::lock_guard<std::mutex> guard(runningMutex_);
        auto& previous = lastProgress_[base];
        if (previous.phase != phase) previous = ProgressSent{{}, false, phase};
        if (previous.finished) return;  // libcurl reports the end more than once
        if (!last && now - previous.at < std::chrono::milliseconds(100)) return;
        previous.at = now;
        previous.finished = last;
    }
    services_.notifyPage("brushprogress",
                         {base, std::to_string(done), std::to_string(total), phase});
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
                    Notify(*base, "run.error", "missing");
                    return 0;
                case FetchOutcome::Damaged:
                    Notify(*base, "run.error", "archive");
                    return 0;
                case FetchOutcome::Cancelled:
                    Notify(*base, "run.error", "cancelled");
                    return 0;
                case FetchOutcome::Ready:
                    break;
            }
        }
    }

    if (!RunProgram(place->folder, place->program)) {
        Notify(*base, "run.error", "start");
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
    {
        std::lock_guard<std::mutex> guard(runningMutex_);
        fetching_.insert(fileName);
    }
    struct Unregister {
        CBrushWorkflow& flow;
        std::pair<std::string, std::string> key;
        std::string fileName;
        ~Unregister() {
            std::lock_guard<std::mutex> guard(flow.runningMutex_);
            flow.running_.erase(flow.running_.find(key));
            flow.fetching_.erase(flow.fetching_.find(fileName));
            if (flow.fetching_.count(fileName) == 0) flow.cancelled_.erase(fileName);
            flow.lastProgress_.erase(key.second);
        }
    } unregister{*this, key, fileName};
    // What an earlier run left when it was killed; this package's lock keeps ours apart.
    if (services_.removeStaging) services_.removeStaging(cacheFolder, *base, false);

    Notify(*base, "download");
    if (Closing()) return FetchOutcome::DownloadFailed;
    if (services_.makeCacheFolder) services_.makeCacheFolder(cacheFolder);
    // Never the address's last part: that could name any file of the cache folder.
    const std::string archive = cacheFolder + DownloadStagingPrefix(*base) + UniqueStagingSuffix();
    bool downloaded = false;
    std::string cause;
    if (services_.downloadWatched) {
        DownloadWatch watch;
        int64_t received = 0;
        int64_t size = -1;
        watch.progress = [&](int64_t done, int64_t total) {
            received = done;
            if (total >= 0) size = total;
            // Before the answer's head there is nothing to show yet.
            if (done > 0 || total >= 0)
                NotifyProgress(*base, done, total, "download", total >= 0 && done == total);
            return !IsCancelled(fileName);
        };
        downloaded = services_.downloadWatched(url, archive, watch) != 0;
        switch (watch.failure) {
            case DownloadFailure::None:
                break;
            case DownloadFailure::HttpStatus:
                cause = "http:" + std::to_string(watch.httpStatus);
                break;
            case DownloadFailure::Network:
                cause = "network";
                break;
            case DownloadFailure::Disk:
                cause = "disk";
                break;
            case DownloadFailure::Cancelled:
                cause = "cancelled";
                break;
        }
        // The whole body is there: its size, announced or counted.
        const int64_t whole = size >= 0 ? size : received;
        if (downloaded) NotifyProgress(*base, whole, whole, "download", true);
    } else {
        downloaded = services_.downloadToFile(url, archive) != 0;
    }
    if (downloaded && IsCancelled(fileName)) {
        services_.removeFile(archive);
        downloaded = false;
        cause = "cancelled";
    }
    if (!downloaded) {
        Notify(*base, "download.error", cause);
        return FetchOutcome::DownloadFailed;
    }
    Notify(*base, "unzip");
    // A failed extraction leaves the previous package folder (or none) as it was.
    bool extracted = false;
    if (!Closing() && !IsCancelled(fileName)) {
        if (services_.unzipWatched) {
            int64_t whole = 0;
            extracted =
                services_.unzipWatched(archive, place->folder, [&](uint64_t done, uint64_t total) {
                    whole = static_cast<int64_t>(total);
                    NotifyProgress(*base, static_cast<int64_t>(done), whole, "unzip",
                                   done == total);
                    return !IsCancelled(fileName);
                });
            if (extracted) NotifyProgress(*base, whole, whole, "unzip", true);
        } else {
            extracted = services_.unzipTo(archive, place->folder);
        }
    }
    services_.removeFile(archive);
    if (IsCancelled(fileName)) return FetchOutcome::Cancelled;
    if (!extracted) return FetchOutcome::Damaged;
    return services_.fileExists(place->program) ? FetchOutcome::Ready : FetchOutcome::NoProgram;
}

int CBrushWorkflow::RunProgram(const std::string& directory, const std::string& file) {
    return services_.startProgram(directory, file) ? 1 : 0;
}
