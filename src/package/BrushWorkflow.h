#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <chrono>
#include <optional>

#include "package/BrushNotices.h"
#include "package/PackagePaths.h"
#include "package/PackageQueues.h"
#include "package/PackageSignature.h"
#include "package/ResumableParts.h"
#include "package/ZipExtract.h"
#include "web/HttpDownload.h"

// The mark field of a package folder that records the id of the key its archive was checked
// with (see BrushServices::packageKey).
inline constexpr const char* kSignedByMarkField = "signed-by";

// How long a download may receive nothing before the page hears it is waiting for the server.
inline constexpr std::chrono::seconds kStallNotice{10};

// How an extraction ended, as far as the page is concerned.
enum class UnzipResult {
    Done,       // the package folder was replaced whole
    Damaged,    // the archive could not be read or checked
    Disk,       // not enough space, or a write failed for want of it
    Cancelled,  // stopped by the progress callback; nothing was published
    InTheWay,   // a folder of the package's name that this program did not make is there
    InUse,      // a program runs in the package folder, which was left as it was
    Refused,    // the archive check refused the archive (its signature): nothing was extracted
};

// What the cache holds under a package's name: nothing, a folder this program made, a folder
// nobody marked (an earlier version's cache, say: taken over only when it holds exactly what
// the package's archive holds), or somebody else's (never replaced, written into or run).
enum class PackageFolderState { Missing, Ours, Unmarked, Foreign };

// What the package workflow needs of the rest of the program. The package desk hands in the
// real ones (the page's notifications, its window, libcurl, minizip, the desktop's launcher);
// tests hand in fakes. Every member is called on a worker thread; the page-facing ones
// (notifyPage, hideMainPanel, afterStart, fetchEnded) may be left empty.
struct BrushServices {
    // NotifyPageArgs of the main panel: queues hostNotify('<event>','<args[0]>',...); for its
    // page, each argument exactly its text.
    std::function<void(const std::string& event, const std::vector<std::string>& args)> notifyPage;
    // The same notifications, each just before the page's, always with the failure's cause
    // (the page gets it only once it asked for progress or cancelled): what the tray and the
    // desktop's notifications tell the user.
    std::function<void(const std::string& event, const std::vector<std::string>& args)>
        notifyOutside;
    // Hides the main panel once a package has started.
    std::function<void()> hideMainPanel;
    // HTTP GET of `url` into `path`, a part that may hold the start of the body already (see
    // DownloadResumable), followed (progress, stopping) and telling why it failed; nonzero when
    // the whole body is there. An interrupted download's part is kept in the staging folder for
    // the next run (see ResumableParts.h).
    std::function<int(const std::string& url, const std::string& path, const DownloadResume& resume,
                      DownloadWatch& watch)>
        downloadResumable;
    // Extracts the archive as the folder `directory`, replacing it only when every entry was
    // written and checked, telling the bytes written and the whole size, stopped when
    // `progress` returns false. `check`, when given, judges the opened archive before anything
    // is extracted (see ArchiveCheck); Refused when it says no.
    std::function<UnzipResult(const std::string& archive, const std::string& directory,
                              const std::function<bool(uint64_t done, uint64_t total)>& progress,
                              const ArchiveCheck& check)>
        unzipWatched;
    // The maker's minisign public key, the base64 line of its minisign.pub. Empty: packages run
    // unsigned. Otherwise an archive is extracted only when the signature at its address +
    // ".minisig" proves this key signed the very bytes extracted (needs fetchSignature); a key
    // that does not read refuses every archive. The program takes it from the build only.
    std::string packageKey;
    // GET of `url` (a signature file) into the new file `path`, read back and removed; none when
    // it could not be had whole within kMostSignatureFileBytes (`watch` says why).
    std::function<std::optional<std::string>(const std::string& url, const std::string& path,
                                             DownloadWatch& watch)>
        fetchSignature;
    // The key id (KeyIdText) a package folder's mark records its archive was checked with;
    // empty for none. With a key, a package checked with no key or another one is fetched again.
    std::function<std::string(const std::string& folder)> packageSignedBy;
    // Starts `file` with `directory` as its working directory the way the desktop's default
    // action does; true when started.
    std::function<bool(const std::string& directory, const std::string& file)> startProgram;
    std::function<bool(const std::string& path)> fileExists;
    // Whether a package folder is missing, made by this program, or somebody else's (never
    // replaced, written into or run); empty: a folder is taken as ours.
    std::function<PackageFolderState(const std::string& folder)> packageFolderState;
    // Whether `program` inside `cacheFolder` may be started: nothing on the way could have been
    // planted or changed by another user. Empty: always.
    std::function<bool(const std::string& cacheFolder, const std::string& program)> safeToStart;
    // Bytes free for this user on the file system of `folder`; empty: no limit known.
    std::function<uint64_t(const std::string& folder)> freeSpace;
    // Whether a cache folder set by the user may serve (the user's own, nobody else can write
    // it, not the home folder, the root or the installation); empty: every folder may.
    std::function<bool(const std::string& folder)> cacheFolderAcceptable;
    std::function<bool(const std::string& path)> removeFile;
    // Runs after a package's program has started and the page was told; empty for none.
    std::function<void(const std::string& fileName)> afterStart;
    // Runs when a download and extraction of package `base` ends, however it ended: a page that
    // asked for no progress hears no end of a fetch that only prepares a package.
    std::function<void(const std::string& base)> fetchEnded;
    // Creates the cache folder when missing; empty for nothing to do.
    std::function<bool(const std::string& folder)> makeCacheFolder;
    // Removes a package's staging files from a cache folder's staging folder (see
    // RemoveStagingLeftovers); empty for nothing to do.
    std::function<void(const std::string& folder, const std::string& name, bool alsoThisRun)>
        removeStaging;
    // Runs a task on the shared worker pool.
    std::function<void(std::function<void()>)> queueTask;
    // Where module-relative texts ("\phone.apk", a cache setting starting with "\") resolve.
    std::string moduleDirectory;
    // The cache folder of an empty setting (or one that may not serve).
    std::string defaultCacheFolder;
    // How long a watched download receives nothing before the page hears "waiting".
    std::chrono::milliseconds stallNotice = kStallNotice;
};

// Makes sure a package's program is in the cache (downloading and extracting it on first use),
// starts it and tells the page each stage with hostNotify('runbrush','<base>','<state>'):
//   present:          run | run.error
//   missing:          download, unzip, run | run.error
//   download failed:  download, download.error
//   somebody else's folder of the package's name: run.error (cause "conflict")
//   a new version while a program runs in the package folder: run.error (cause "busy")
//   a folder nobody marked: as missing; the extraction takes it over when it holds exactly
//     what the archive holds, else run.error (cause "conflict")
//   URL without "/":  nothing
// Each task takes the cache folder as it is when it is asked for, so a later "app.setpath"
// does not move a queued or running task. Tasks for the same package run one after the other, in
// order, waiting in the package's queue rather than on a worker; the second then finds the program
// present. The archive is downloaded under a staging name of its own (never the address's last
// part) in the cache's staging folder, and the package folder replaced only by a complete,
// checked extraction, and only when this program made it; a task first clears its package's
// leftovers of earlier runs. Nothing is started that another user could have planted.
class CBrushWorkflow : public std::enable_shared_from_this<CBrushWorkflow> {
  public:
    explicit CBrushWorkflow(BrushServices services);

    // The cache a setting ([app] cachedir) comes to: this workflow's default for an empty
    // setting, or one that may not serve as a cache (see ResolveCacheSetting).
    ResolvedCache ResolveCache(const std::string& cacheSetting) const;
    // Where `fileName` lives in the cache `cacheSetting` comes to; none when it cannot be there.
    std::optional<PackagePlace> Place(const std::string& cacheSetting,
                                      const std::string& fileName) const;

    // Whether the program of `fileName` is in the cache `cacheSetting` comes to, in a folder this
    // program made: what a run would start without a download. Any thread.
    bool ProgramPresent(const std::string& cacheSetting, const std::string& fileName) const;

    // GUI thread: places the package and queues its run, returning at once. `finished`, when
    // given, runs on the worker with the run's result (1 when the program was started).
    void StartBrushTask(const std::string& cacheSetting, const std::string& fileName,
                        const std::string& url, std::function<void(int)> finished = {});
    // GUI thread: queues a fetch without a run (the prefetch of "app.checkapp").
    void StartFetchTask(const std::string& cacheSetting, const std::string& fileName,
                        const std::string& url);
    void StartFetchTask(const PackagePlace& place, const std::string& url);

    // Any thread but the pool's: queues the run after the package's other tasks and waits for
    // it; 1 when the program was started, 0 otherwise.
    int EnsureAndRun(const std::string& cacheSetting, const std::string& fileName,
                     const std::string& url);
    // The same for a fetch: downloads and extracts the package; nonzero only when its program is
    // then present. Sends "download", "download.error" and "unzip" as it goes.
    int FetchPackage(const std::string& cacheSetting, const std::string& fileName,
                     const std::string& url);
    // Worker: starts `file` in `directory`; nonzero when started.
    int RunProgram(const std::string& directory, const std::string& file);

    // GUI thread: a page asked for progress notifications ("app.progress"):
    //   hostNotify('brushprogress','<base>','<done>','<total>','<phase>')
    // at most 10 a second per package and a last one with done equal to total; phase "waiting"
    // (done and total as last heard) once a download has received nothing for stallNotice,
    // and "download" again when bytes come; a resumed download counts the bytes it already
    // had in done and total. A page that
    // asked once (or cancelled) also gets the cause of a failure as the fourth argument of
    // download.error and run.error. Other pages get exactly the sequences above.
    void SetPageProgress(bool on);
    // GUI thread: stops the running fetch of `fileName`: its download is cut and removed, the
    // page gets download.error (or run.error once extracting) with the cause "cancelled", and
    // nothing is started. When the cancel comes too late to keep the new package from being
    // published, the page hears run.error, "cancelled", "ready": the package is there, only its
    // start was cancelled. No fetch of it running: nothing happens.
    void CancelBrush(const std::string& fileName);

    // Any thread, at quit: removes the staging files of the fetches still running, which
    // cannot finish any more, and keeps fetches from making new ones.
    void RemoveRunningStaging();
    // GUI thread, at start-up: queues the removal of every staging leftover of earlier runs
    // from the resolved cache folder.
    void StartSweep(const std::string& cacheFolder);

  private:
    enum class FetchOutcome {
        NotAttempted,    // the URL has no "/": nothing was sent
        DownloadFailed,  // "download", "download.error" were sent
        NoProgram,       // "download", "unzip" were sent, but the program is not there
        Damaged,         // as NoProgram: the archive could not be extracted
        Disk,            // as NoProgram: no space to extract into
        Cancelled,       // as NoProgram: the page cancelled while it was extracting
        InTheWay,        // somebody else's folder holds the package's name; nothing was sent
        InUse,           // as NoProgram: a program runs in the package folder, left as it was
        Unsigned,        // as NoProgram: no valid signature of the build's key; nothing extracted
        Ready,           // "download", "unzip" were sent and the program is there
        ReadyCancelled,  // as Ready, but the page cancelled once it was too late to stop
    };
    class RunningFetch;

    // Runs `work` as a task of the package's queue, after the tasks queued before it, and
    // waits for its result; never on a worker of that queue.
    int RunInQueue(const PackagePlace& place, std::function<int()> work);
    int RunAt(const PackagePlace& place, const std::string& url);
    int FetchAt(const PackagePlace& place, const std::string& url);
    FetchOutcome FetchInQueue(const PackagePlace& place, const std::string& url);
    // Downloads into `archive`; true when the whole body is there, else the page was told.
    bool DownloadArchive(const PackagePlace& place, const std::string& url,
                         const std::string& archive);
    // After a resumable download: the part kept for the next run, or removed.
    void KeepOrForget(const ResumablePart& part, const std::string& url, const DownloadResume& from,
                      const DownloadWatch& watch, bool downloaded, const std::string& cause);
    // With a key: the archive's signature, fetched and read; false when the download failed
    // (the page was told), else `signature` is none when it is missing or does not read.
    bool FetchSignature(const PackagePlace& place, const std::string& url,
                        std::optional<MinisignSignature>& signature);
    // Extracts the downloaded archive (checking its signature first when there is a key) and
    // removes it.
    FetchOutcome ExtractDownloaded(const PackagePlace& place, const std::string& url,
                                   const std::string& archive);
    UnzipResult ExtractArchive(const PackagePlace& place, const std::string& archive,
                               const ArchiveCheck& check);
    // What a run tells the page after a fetch that did not end with its program ready.
    void NotifyFetchEnd(const std::string& base, FetchOutcome outcome);
    bool IsCancelled(const std::string& fileName);
    bool Closing();
    PackageFolderState FolderState(const PackagePlace& place);
    // Whether the package folder was checked with this build's key; always without a key.
    bool SignedByThisBuild(const PackagePlace& place);

    BrushServices services_;
    CBrushNotices notices_;
    std::optional<MinisignKey> key_;  // the key of services_.packageKey, when it reads
    CPackageQueues queues_;
    std::mutex runningMutex_;
    std::multiset<std::pair<std::string, std::string>> running_;  // (cache folder, base name)
    bool closing_ = false;                 // RemoveRunningStaging ran: no fetch starts a new step
    std::multiset<std::string> fetching_;  // file names of running fetches
    std::set<std::string> cancelled_;      // of those, the ones the page cancelled
};
