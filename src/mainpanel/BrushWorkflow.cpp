#include "mainpanel/BrushWorkflow.h"

#include "mainpanel/PackagePaths.h"

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
                                                const std::string& fileName,
                                                const std::string& url) {
    // The extraction folder, and the archive file, which two packages may share by name.
    std::vector<std::string> keys;
    if (auto place = LocatePackage(services_.moduleDirectory, cacheDir, fileName))
        keys.push_back("folder:" + place->folder);
    if (auto archive = PackageArchiveName(url))
        keys.push_back("archive:" + CacheFolderOf(services_.moduleDirectory, cacheDir) + *archive);
    return locks_.Acquire(std::move(keys));
}

int CBrushWorkflow::EnsureAndRun(const std::string& cacheDir, const std::string& fileName,
                                 const std::string& url) {
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

int CBrushWorkflow::FetchPackage(const std::string& cacheDir, const std::string& fileName,
                                 const std::string& url) {
    auto hold = LockPackage(cacheDir, fileName, url);
    return FetchLocked(cacheDir, fileName, url) == FetchOutcome::Ready ? 1 : 0;
}

CBrushWorkflow::FetchOutcome CBrushWorkflow::FetchLocked(const std::string& cacheDir,
                                                         const std::string& fileName,
                                                         const std::string& url) {
    const auto base = PackageBaseName(fileName);
    const auto place = LocatePackage(services_.moduleDirectory, cacheDir, fileName);
    const auto archiveName = PackageArchiveName(url);
    if (!base || !place || !archiveName) return FetchOutcome::NotAttempted;

    const std::string cacheFolder = CacheFolderOf(services_.moduleDirectory, cacheDir);
    const std::string archive = cacheFolder + *archiveName;

    Notify(*base, "download");
    if (!services_.downloadToFolder(url, cacheFolder)) {
        Notify(*base, "download.error");
        return FetchOutcome::DownloadFailed;
    }
    Notify(*base, "unzip");
    const bool extracted = services_.unzipTo(archive, place->folder);
    services_.removeFile(archive);
    if (!extracted) {
        // A cut program must not count as present: the next run downloads again.
        services_.removeFile(place->program);
        return FetchOutcome::NoProgram;
    }
    return services_.fileExists(place->program) ? FetchOutcome::Ready : FetchOutcome::NoProgram;
}

int CBrushWorkflow::RunProgram(const std::string& directory, const std::string& file) {
    return services_.startProgram(directory, file) ? 1 : 0;
}
