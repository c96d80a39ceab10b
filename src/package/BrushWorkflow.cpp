#include "package/BrushWorkflow.h"

#include "package/PackagePaths.h"
#include "package/StagingNames.h"

namespace {

// Room left beside a download for the extraction that follows it and for everybody else.
constexpr uint64_t kSpareBytes = 16ull << 20;

const char* CauseOf(DownloadFailure failure) {
    switch (failure) {
        case DownloadFailure::Network:
            return "network";
        case DownloadFailure::Disk:
            return "disk";
        case DownloadFailure::Cancelled:
            return "cancelled";
        case DownloadFailure::None:
        case DownloadFailure::HttpStatus:
            break;
    }
    return "";
}

}  // namespace

CBrushWorkflow::CBrushWorkflow(BrushServices services)
    : services_(std::move(services)), queues_(services_.queueTask) {}

std::string CBrushWorkflow::QueueKey(const std::string& cacheSetting,
                                     const std::string& fileName) const {
    const auto place =
        LocatePackage(services_.moduleDirectory, UsableCacheDir(cacheSetting), fileName);
    return place ? place->folder : std::string();
}

void CBrushWorkflow::StartBrushTask(const std::string& cacheDir, const std::string& fileName,
                                    const std::string& url, std::function<void(int)> finished) {
    queues_.Queue(QueueKey(cacheDir, fileName), [self = shared_from_this(), cacheDir, fileName, url,
                                                 finished = std::move(finished)] {
        const int started = self->EnsureAndRun(cacheDir, fileName, url);
        if (finished) finished(started);
    });
}

void CBrushWorkflow::StartFetchTask(const std::string& cacheDir, const std::string& fileName,
                                    const std::string& url) {
    queues_.Queue(QueueKey(cacheDir, fileName),
                  [self = shared_from_this(), cacheDir, fileName, url] {
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
    const std::string usable =
        ::UsableCacheDir(services_.moduleDirectory, cacheDir, services_.defaultCacheDir);
    if (usable == services_.defaultCacheDir || !services_.cacheFolderAcceptable) return usable;
    const bool acceptable =
        services_.cacheFolderAcceptable(CacheFolderOf(services_.moduleDirectory, usable));
    return acceptable ? usable : services_.defaultCacheDir;
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
        const auto state = services_.packageFolderState
                               ? services_.packageFolderState(place->folder)
                               : PackageFolderState::Ours;
        if (state == PackageFolderState::Foreign) {
            Notify(*base, "run.error", "conflict");
            return 0;
        }
        if (state == PackageFolderState::Missing || !services_.fileExists(place->program)) {
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
                case FetchOutcome::Disk:
                    Notify(*base, "run.error", "disk");
                    return 0;
                case FetchOutcome::InTheWay:
                    Notify(*base, "run.error", "conflict");
                    return 0;
                case FetchOutcome::Cancelled:
                    Notify(*base, "run.error", "cancelled");
                    return 0;
                case FetchOutcome::ReadyCancelled:
                    NotifyCancelledButReady(*base);
                    return 0;
                case FetchOutcome::Ready:
                    break;
            }
        }
    }

    const std::string cacheFolder = CacheFolderOf(services_.moduleDirectory, cacheDir);
    if (services_.safeToStart && !services_.safeToStart(cacheFolder, place->program)) {
        Notify(*base, "run.error", "unsafe");
        return 0;
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

void CBrushWorkflow::NotifyCancelledButReady(const std::string& base) {
    if (!services_.notifyPage) return;
    services_.notifyPage("runbrush", {base, "run.error", "cancelled", "ready"});
}

int CBrushWorkflow::FetchPackage(const std::string& cacheSetting, const std::string& fileName,
                                 const std::string& url) {
    const std::string cacheDir = UsableCacheDir(cacheSetting);
    if (cacheDir.empty()) return 0;
    auto hold = LockPackage(cacheDir, fileName, url);
    const auto place = LocatePackage(services_.moduleDirectory, cacheDir, fileName);
    const auto base = PackageBaseName(fileName);
    if (place && base && services_.packageFolderState &&
        services_.packageFolderState(place->folder) == PackageFolderState::Foreign) {
        Notify(*base, "run.error", "conflict");
        return 0;
    }
    switch (FetchLocked(cacheDir, fileName, url)) {
        case FetchOutcome::Ready:
        case FetchOutcome::ReadyCancelled:
            return 1;
        case FetchOutcome::Cancelled:
            // Only a page that opted in can cancel; it hears that nothing new is there.
            if (base) Notify(*base, "run.error", "cancelled");
            return 0;
        case FetchOutcome::InTheWay:
            if (base) Notify(*base, "run.error", "conflict");
            return 0;
        default:
            return 0;
    }
}

bool CBrushWorkflow::DownloadArchive(const std::string& base, const std::string& fileName,
                                     const std::string& url, const std::string& archive,
                                     const std::string& cacheFolder) {
    if (!services_.downloadWatched) {
        if (services_.downloadToFile(url, archive) != 0) return true;
        Notify(base, "download.error");
        return false;
    }
    DownloadWatch watch;
    int64_t received = 0;
    int64_t size = -1;
    bool noRoom = false;
    watch.progress = [&](int64_t done, int64_t total) {
        received = done;
        if (total >= 0 && size < 0 && services_.freeSpace) {
            // A body that cannot fit is not worth starting.
            const uint64_t free = services_.freeSpace(cacheFolder);
            noRoom = static_cast<uint64_t>(total) + kSpareBytes > free;
        }
        if (total >= 0) size = total;
        if (noRoom) return false;
        // Before the answer's head there is nothing to show yet.
        if (done > 0 || total >= 0)
            NotifyProgress(base, done, total, "download", total >= 0 && done == total);
        return !IsCancelled(fileName);
    };
    bool downloaded = services_.downloadWatched(url, archive, watch) != 0;
    std::string cause = noRoom ? "disk" : CauseOf(watch.failure);
    if (!noRoom && watch.failure == DownloadFailure::HttpStatus)
        cause = "http:" + std::to_string(watch.httpStatus);
    // The whole body is there: its size, announced or counted.
    const int64_t whole = size >= 0 ? size : received;
    if (downloaded) NotifyProgress(base, whole, whole, "download", true);
    if (downloaded && IsCancelled(fileName)) {
        services_.removeFile(archive);
        downloaded = false;
        cause = "cancelled";
    }
    if (!downloaded) Notify(base, "download.error", cause);
    return downloaded;
}

UnzipResult CBrushWorkflow::ExtractArchive(const std::string& base, const std::string& fileName,
                                           const std::string& archive, const std::string& folder) {
    if (!services_.unzipWatched)
        return services_.unzipTo(archive, folder) ? UnzipResult::Done : UnzipResult::Damaged;
    int64_t whole = 0;
    const UnzipResult result =
        services_.unzipWatched(archive, folder, [&](uint64_t done, uint64_t total) {
            whole = static_cast<int64_t>(total);
            NotifyProgress(base, static_cast<int64_t>(done), whole, "unzip", done == total);
            return !IsCancelled(fileName);
        });
    if (result == UnzipResult::Done) NotifyProgress(base, whole, whole, "unzip", true);
    return result;
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
    // What an earlier run left when it was killed; this package's queue keeps ours apart.
    if (services_.removeStaging) services_.removeStaging(cacheFolder, *base, false);

    Notify(*base, "download");
    if (Closing()) return FetchOutcome::DownloadFailed;
    if (services_.makeCacheFolder) services_.makeCacheFolder(cacheFolder);
    // Never the address's last part: that could name any file of the cache folder.
    const std::string archive =
        StagingHomeOf(cacheFolder) + "/" + DownloadStagingPrefix(*base) + UniqueStagingSuffix();
    if (!DownloadArchive(*base, fileName, url, archive, cacheFolder))
        return FetchOutcome::DownloadFailed;
    Notify(*base, "unzip");
    // A failed extraction leaves the previous package folder (or none) as it was.
    UnzipResult extracted = UnzipResult::Cancelled;
    if (!Closing() && !IsCancelled(fileName))
        extracted = ExtractArchive(*base, fileName, archive, place->folder);
    services_.removeFile(archive);
    switch (extracted) {
        case UnzipResult::Done:
            break;
        case UnzipResult::Disk:
            return FetchOutcome::Disk;
        case UnzipResult::InTheWay:
            return FetchOutcome::InTheWay;
        case UnzipResult::Cancelled:
            return FetchOutcome::Cancelled;
        case UnzipResult::Damaged:
            return IsCancelled(fileName) ? FetchOutcome::Cancelled : FetchOutcome::Damaged;
    }
    // Published: a cancel now can only keep the program from starting.
    if (!services_.fileExists(place->program)) return FetchOutcome::NoProgram;
    return IsCancelled(fileName) ? FetchOutcome::ReadyCancelled : FetchOutcome::Ready;
}

int CBrushWorkflow::RunProgram(const std::string& directory, const std::string& file) {
    return services_.startProgram(directory, file) ? 1 : 0;
}
