#include "package/BrushWorkflow.h"

#include <future>

#include "os/DiagnosticLog.h"
#include "package/ResumableParts.h"
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
        case DownloadFailure::Tls:
            return "tls";
        case DownloadFailure::Refused:
            return "refused";
        case DownloadFailure::None:
        case DownloadFailure::HttpStatus:
            break;
    }
    return "";
}

// The cause a failed download tells the page: no room, an HTTP status, or what libcurl saw.
std::string FailureCause(bool noRoom, const DownloadWatch& watch) {
    if (noRoom) return "disk";
    if (watch.failure == DownloadFailure::HttpStatus)
        return "http:" + std::to_string(watch.httpStatus);
    return CauseOf(watch.failure);
}

// Whether the rest of a body of `total` bytes, with the spare room beside it, fits in the free
// space of `folder` (a body that cannot fit is not worth starting; a continued one needs only
// the rest). Logs the refusal.
bool RoomForDownload(const BrushServices& services, const std::string& folder,
                     const std::string& url, int64_t total, int64_t resumedFrom) {
    const uint64_t rest = static_cast<uint64_t>(total - resumedFrom);
    const uint64_t free = services.freeSpace(folder);
    if (rest + kSpareBytes <= free) return true;
    os::LogError("download refused", url + ": " + std::to_string(rest) + " bytes and a spare " +
                                         std::to_string(kSpareBytes) + " need more than the " +
                                         std::to_string(free) + " free in " + folder);
    return false;
}

}  // namespace

// A fetch in progress, known to RemoveRunningStaging and CancelBrush while it lasts.
class CBrushWorkflow::RunningFetch {
  public:
    RunningFetch(CBrushWorkflow& flow, const PackagePlace& place)
        : flow_(flow), key_(place.cacheFolder, place.base), fileName_(place.fileName) {
        std::lock_guard<std::mutex> guard(flow_.runningMutex_);
        flow_.running_.insert(key_);
        flow_.fetching_.insert(fileName_);
    }
    ~RunningFetch() {
        {
            std::lock_guard<std::mutex> guard(flow_.runningMutex_);
            flow_.running_.erase(flow_.running_.find(key_));
            flow_.fetching_.erase(flow_.fetching_.find(fileName_));
            if (flow_.fetching_.count(fileName_) == 0) flow_.cancelled_.erase(fileName_);
        }
        flow_.notices_.FetchEnded(key_.second);
        if (flow_.services_.fetchEnded) flow_.services_.fetchEnded(key_.second);
    }
    RunningFetch(const RunningFetch&) = delete;
    RunningFetch& operator=(const RunningFetch&) = delete;

  private:
    CBrushWorkflow& flow_;
    std::pair<std::string, std::string> key_;
    std::string fileName_;
};

CBrushWorkflow::CBrushWorkflow(BrushServices services)
    : services_(std::move(services)),
      notices_(services_.notifyPage, services_.notifyOutside),
      queues_(services_.queueTask) {
    if (services_.packageKey.empty()) return;
    key_ = ParseMinisignKey(services_.packageKey);
    if (!key_) os::LogError("package key unreadable", "every package archive is refused");
}

ResolvedCache CBrushWorkflow::ResolveCache(const std::string& cacheSetting) const {
    return ResolveCacheSetting(services_.moduleDirectory, cacheSetting,
                               services_.defaultCacheFolder, services_.cacheFolderAcceptable);
}

std::optional<PackagePlace> CBrushWorkflow::Place(const std::string& cacheSetting,
                                                  const std::string& fileName) const {
    return PlacePackage(ResolveCache(cacheSetting).folder, fileName);
}

void CBrushWorkflow::StartBrushTask(const std::string& cacheSetting, const std::string& fileName,
                                    const std::string& url, std::function<void(int)> finished) {
    auto place = Place(cacheSetting, fileName);
    // The package's folder keeps its tasks in order; a name without one runs nothing.
    const std::string key = place ? place->folder : std::string();
    queues_.Queue(key, [self = shared_from_this(), place = std::move(place), url,
                        finished = std::move(finished)] {
        const int started = place ? self->RunAt(*place, url) : 0;
        if (finished) finished(started);
    });
}

bool CBrushWorkflow::ProgramPresent(const std::string& cacheSetting,
                                    const std::string& fileName) const {
    const auto place = Place(cacheSetting, fileName);
    if (!place) return false;
    const bool ours = !services_.packageFolderState ||
                      services_.packageFolderState(place->folder) == PackageFolderState::Ours;
    return ours && services_.fileExists(place->program);
}

void CBrushWorkflow::StartFetchTask(const std::string& cacheSetting, const std::string& fileName,
                                    const std::string& url) {
    if (const auto place = Place(cacheSetting, fileName)) StartFetchTask(*place, url);
}

void CBrushWorkflow::StartFetchTask(const PackagePlace& place, const std::string& url) {
    queues_.Queue(place.folder,
                  [self = shared_from_this(), place, url] { self->FetchAt(place, url); });
}

void CBrushWorkflow::SetPageProgress(bool on) {
    notices_.SetPageProgress(on);
}

void CBrushWorkflow::CancelBrush(const std::string& fileName) {
    notices_.TakeCauses();
    std::lock_guard<std::mutex> guard(runningMutex_);
    if (fetching_.count(fileName) != 0) cancelled_.insert(fileName);
}

bool CBrushWorkflow::IsCancelled(const std::string& fileName) {
    std::lock_guard<std::mutex> guard(runningMutex_);
    return cancelled_.count(fileName) != 0;
}

bool CBrushWorkflow::SignedByThisBuild(const PackagePlace& place) {
    if (services_.packageKey.empty()) return true;
    const std::string signedBy =
        services_.packageSignedBy ? services_.packageSignedBy(place.folder) : "";
    if (key_ && signedBy == KeyIdText(key_->keyId)) return true;
    os::LogDebug("package fetched again", place.folder + ": checked with key " +
                                              (signedBy.empty() ? "none" : signedBy) +
                                              ", not with this build's");
    return false;
}

PackageFolderState CBrushWorkflow::FolderState(const PackagePlace& place) {
    if (!services_.packageFolderState) return PackageFolderState::Ours;
    const PackageFolderState state = services_.packageFolderState(place.folder);
    if (state == PackageFolderState::Foreign)
        os::LogWarning("package folder in the way",
                       place.folder + ": not made by this program; left alone");
    return state;
}

void CBrushWorkflow::StartSweep(const std::string& cacheFolder) {
    if (!services_.removeStaging || cacheFolder.empty()) return;
    services_.queueTask([self = shared_from_this(), cacheFolder] {
        self->services_.removeStaging(cacheFolder, std::string(), false);
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
    const auto place = Place(cacheSetting, fileName);
    if (!place) return 0;
    return RunInQueue(*place, [self = shared_from_this(), place = *place, url] {
        return self->RunAt(place, url);
    });
}

int CBrushWorkflow::RunInQueue(const PackagePlace& place, std::function<int()> work) {
    // Shared with the task, which may still be unwinding when the wait below ends.
    auto result = std::make_shared<std::promise<int>>();
    auto done = result->get_future();
    queues_.Queue(place.folder, [result, work = std::move(work)] { result->set_value(work()); });
    return done.get();
}

int CBrushWorkflow::RunAt(const PackagePlace& place, const std::string& url) {
    const PackageFolderState state = FolderState(place);
    if (state == PackageFolderState::Foreign) {
        notices_.Notify(place.base, "run.error", "conflict");
        return 0;
    }
    if (state != PackageFolderState::Ours || !services_.fileExists(place.program) ||
        !SignedByThisBuild(place)) {
        FetchOutcome outcome = FetchInQueue(place, url);
        // Nothing to compare a folder nobody marked with: it stays the user's.
        if (outcome == FetchOutcome::NotAttempted && state == PackageFolderState::Unmarked)
            outcome = FetchOutcome::InTheWay;
        if (outcome != FetchOutcome::Ready) {
            NotifyFetchEnd(place.base, outcome);
            return 0;
        }
    }
    if (services_.safeToStart && !services_.safeToStart(place.cacheFolder, place.program)) {
        os::LogError("program not started", place.program +
                                                ": it or a folder on its way is not the user's "
                                                "own, is a link, or others may write it");
        notices_.Notify(place.base, "run.error", "unsafe");
        return 0;
    }
    if (!RunProgram(place.folder, place.program)) {
        notices_.Notify(place.base, "run.error", "start");
        return 0;
    }
    if (services_.hideMainPanel) services_.hideMainPanel();
    notices_.Notify(place.base, "run");
    if (services_.afterStart) services_.afterStart(place.fileName);
    return 1;
}

void CBrushWorkflow::NotifyFetchEnd(const std::string& base, FetchOutcome outcome) {
    switch (outcome) {
        case FetchOutcome::NotAttempted:
        case FetchOutcome::DownloadFailed:
        case FetchOutcome::Ready:
            return;  // what the fetch told the page stands
        case FetchOutcome::NoProgram:
            return notices_.Notify(base, "run.error", "missing");
        case FetchOutcome::Damaged:
            return notices_.Notify(base, "run.error", "archive");
        case FetchOutcome::Unsigned:
            return notices_.Notify(base, "run.error", "signature");
        case FetchOutcome::Disk:
            return notices_.Notify(base, "run.error", "disk");
        case FetchOutcome::InTheWay:
            return notices_.Notify(base, "run.error", "conflict");
        case FetchOutcome::InUse:
            return notices_.Notify(base, "run.error", "busy");
        case FetchOutcome::Cancelled:
            return notices_.Notify(base, "run.error", "cancelled");
        case FetchOutcome::ReadyCancelled:
            return notices_.Tell("runbrush", {base, "run.error", "cancelled", "ready"});
    }
}

int CBrushWorkflow::FetchPackage(const std::string& cacheSetting, const std::string& fileName,
                                 const std::string& url) {
    const auto place = Place(cacheSetting, fileName);
    if (!place) return 0;
    return RunInQueue(*place, [self = shared_from_this(), place = *place, url] {
        return self->FetchAt(place, url);
    });
}

int CBrushWorkflow::FetchAt(const PackagePlace& place, const std::string& url) {
    const PackageFolderState state = FolderState(place);
    if (state == PackageFolderState::Foreign) {
        notices_.Notify(place.base, "run.error", "conflict");
        return 0;
    }
    const bool unmarked = state == PackageFolderState::Unmarked;
    switch (FetchInQueue(place, url)) {
        case FetchOutcome::NotAttempted:
            if (unmarked) notices_.Notify(place.base, "run.error", "conflict");
            return 0;
        case FetchOutcome::Ready:
        case FetchOutcome::ReadyCancelled:
            return 1;
        case FetchOutcome::Cancelled:
            // Only a page that opted in can cancel; it hears that nothing new is there.
            notices_.Notify(place.base, "run.error", "cancelled");
            return 0;
        case FetchOutcome::InTheWay:
            notices_.Notify(place.base, "run.error", "conflict");
            return 0;
        case FetchOutcome::InUse:
            notices_.Notify(place.base, "run.error", "busy");
            return 0;
        default:
            return 0;
    }
}

bool CBrushWorkflow::DownloadArchive(const PackagePlace& place, const std::string& url,
                                     const std::string& archive) {
    const ResumablePart part = ResumablePartOf(place.stagingHome, place.base, url);
    const DownloadResume from = ResumePointOf(place.stagingHome, place.base, url, part);
    DownloadWatch watch;
    CDownloadProgress progress(notices_, place.base, services_.stallNotice);
    bool noRoom = false;
    watch.progress = [&](int64_t done, int64_t total) {
        const bool sizeAnnounced = total >= 0 && !progress.SizeKnown();
        progress.Count(done, total);
        if (sizeAnnounced && services_.freeSpace)
            noRoom = !RoomForDownload(services_, place.cacheFolder, url, total, watch.resumedFrom);
        if (noRoom) return false;
        progress.Show(done, total);
        return !IsCancelled(place.fileName);
    };
    bool downloaded = services_.downloadResumable(url, archive, from, watch) != 0;
    std::string cause = FailureCause(noRoom, watch);
    if (downloaded) progress.Finished();
    if (downloaded && IsCancelled(place.fileName)) {
        services_.removeFile(archive);
        downloaded = false;
        cause = "cancelled";
    }
    KeepOrForget(part, url, from, watch, downloaded, cause);
    if (!downloaded) notices_.Notify(place.base, "download.error", cause);
    return downloaded;
}

void CBrushWorkflow::KeepOrForget(const ResumablePart& part, const std::string& url,
                                  const DownloadResume& from, const DownloadWatch& watch,
                                  bool downloaded, const std::string& cause) {
    // The extraction still reads a whole body; its sidecar has done its work.
    if (downloaded) return ForgetPart(part, true);
    // The network's fault, or the server's for now: the next run continues. A cancel (the user
    // asked to stop), a disk failure or an answer that the package is not there drops it.
    const bool serverForNow =
        watch.failure == DownloadFailure::HttpStatus && watch.httpStatus >= 500;
    const bool worthKeeping = (cause == "network" || cause == "tls" || serverForNow) && !Closing();
    if (!worthKeeping) return ForgetPart(part);
    // A 2xx answer wrote the part and its validator tells its version; without one, the part is
    // the earlier attempt's, untouched.
    const bool rewritten = watch.httpStatus >= 200 && watch.httpStatus <= 299;
    const std::string validator =
        rewritten ? watch.validator : (from.offset > 0 ? from.validator : std::string());
    KeepPart(part, url, validator);
}

UnzipResult CBrushWorkflow::ExtractArchive(const PackagePlace& place, const std::string& archive,
                                           const ArchiveCheck& check) {
    int64_t whole = 0;
    const UnzipResult result = services_.unzipWatched(
        archive, place.folder,
        [&](uint64_t done, uint64_t total) {
            whole = static_cast<int64_t>(total);
            notices_.Progress(place.base, static_cast<int64_t>(done), whole, "unzip",
                              done == total);
            return !IsCancelled(place.fileName);
        },
        check);
    if (result == UnzipResult::Done) notices_.Progress(place.base, whole, whole, "unzip", true);
    return result;
}

bool CBrushWorkflow::FetchSignature(const PackagePlace& place, const std::string& url,
                                    std::optional<MinisignSignature>& signature) {
    if (!services_.fetchSignature) return true;  // no way to fetch one: refused as missing
    const std::string address = url + ".minisig";
    const std::string path =
        place.stagingHome + "/" + DownloadStagingPrefix(place.base) + UniqueStagingSuffix();
    DownloadWatch watch;
    const auto text = services_.fetchSignature(address, path, watch);
    if (text) {
        signature = ParseMinisig(*text);
        if (!signature) os::LogError("package signature unreadable", address);
        return true;
    }
    // The way to the server failed: trying again may help. An answer without the file (or
    // with far too much) is a package without a signature.
    const char* cause = CauseOf(watch.failure);
    if (watch.failure == DownloadFailure::HttpStatus ||
        watch.failure == DownloadFailure::Cancelled || watch.failure == DownloadFailure::None) {
        os::LogError("package signature missing",
                     address + ": HTTP " + std::to_string(watch.httpStatus));
        return true;
    }
    notices_.Notify(place.base, "download.error", cause);
    return false;
}

CBrushWorkflow::FetchOutcome CBrushWorkflow::ExtractDownloaded(const PackagePlace& place,
                                                               const std::string& url,
                                                               const std::string& archive) {
    std::optional<MinisignSignature> signature;
    if (!services_.packageKey.empty() && !FetchSignature(place, url, signature)) {
        services_.removeFile(archive);
        return FetchOutcome::DownloadFailed;
    }
    notices_.Notify(place.base, "unzip");
    ArchiveCheck check;
    if (!services_.packageKey.empty()) {
        // The package folder keeps which key vouched for it, so a build with another key
        // fetches it again.
        if (key_) check.markFields = {{kSignedByMarkField, KeyIdText(key_->keyId)}};
        check.accepts = [&](os::ReadAtFile& file) {
            if (!key_ || !signature) return false;
            const SignatureVerdict verdict = VerifyArchiveSignature(*key_, *signature, file);
            if (verdict == SignatureVerdict::Valid) return true;
            os::LogError("package signature refused", url + ": " + SignatureVerdictText(verdict));
            return false;
        };
    }
    // A failed extraction leaves the previous package folder (or none) as it was.
    UnzipResult extracted = UnzipResult::Cancelled;
    if (!Closing() && !IsCancelled(place.fileName))
        extracted = ExtractArchive(place, archive, check);
    services_.removeFile(archive);
    switch (extracted) {
        case UnzipResult::Done:
            break;
        case UnzipResult::Disk:
            return FetchOutcome::Disk;
        case UnzipResult::InTheWay:
            return FetchOutcome::InTheWay;
        case UnzipResult::InUse:
            return FetchOutcome::InUse;
        case UnzipResult::Cancelled:
            return FetchOutcome::Cancelled;
        case UnzipResult::Refused:
            return FetchOutcome::Unsigned;
        case UnzipResult::Damaged:
            return IsCancelled(place.fileName) ? FetchOutcome::Cancelled : FetchOutcome::Damaged;
    }
    // Published: a cancel now can only keep the program from starting.
    if (!services_.fileExists(place.program)) return FetchOutcome::NoProgram;
    return IsCancelled(place.fileName) ? FetchOutcome::ReadyCancelled : FetchOutcome::Ready;
}

CBrushWorkflow::FetchOutcome CBrushWorkflow::FetchInQueue(const PackagePlace& place,
                                                          const std::string& url) {
    if (!PackageArchiveName(url)) return FetchOutcome::NotAttempted;
    RunningFetch running(*this, place);
    // What an earlier run left when it was killed; this package's queue keeps ours apart.
    if (services_.removeStaging) services_.removeStaging(place.cacheFolder, place.base, false);

    notices_.Notify(place.base, "download");
    if (Closing()) return FetchOutcome::DownloadFailed;
    if (services_.makeCacheFolder) services_.makeCacheFolder(place.cacheFolder);
    // Never the address's last part: that could name any file of the cache folder. A resumable
    // download's name stands for its address, so a later run finds the part it kept.
    const std::string archive = ResumablePartOf(place.stagingHome, place.base, url).part;
    if (!DownloadArchive(place, url, archive)) return FetchOutcome::DownloadFailed;
    return ExtractDownloaded(place, url, archive);
}

int CBrushWorkflow::RunProgram(const std::string& directory, const std::string& file) {
    return services_.startProgram(directory, file) ? 1 : 0;
}
