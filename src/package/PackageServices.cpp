#include "package/PackageServices.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "BuildConfig.h"
#include "base/Settings.h"
#include "base/WorkerPool.h"
#include "os/Files.h"
#include "os/FolderTrust.h"
#include "os/FreeSpace.h"
#include "os/Process.h"
#include "os/StagingFolder.h"
#include "package/PackageCache.h"
#include "package/StagingNames.h"
#include "package/ZipExtract.h"
#include "web/HttpDownload.h"

namespace {

UnzipResult UnzipResultOf(ExtractResult result) {
    switch (result) {
        case ExtractResult::Done:
            return UnzipResult::Done;
        case ExtractResult::Disk:
            return UnzipResult::Disk;
        case ExtractResult::Cancelled:
            return UnzipResult::Cancelled;
        case ExtractResult::Conflict:
            return UnzipResult::InTheWay;
        case ExtractResult::InUse:
            return UnzipResult::InUse;
        case ExtractResult::Refused:
            return UnzipResult::Refused;
        case ExtractResult::Archive:
            break;
    }
    return UnzipResult::Damaged;
}

// A package folder (PackagePlace::folder) and its cache's staging folder.
std::pair<std::string, std::string> PublishedPathOf(const std::string& folder) {
    return {folder, StagingHomeOf(folder.substr(0, folder.rfind('/') + 1))};
}

// What the mark of a package folder says of it (see os::StateOfPublished).
PackageFolderState PackageFolderStateOf(const std::string& folder) {
    const auto [path, home] = PublishedPathOf(folder);
    switch (os::StateOfPublished(path, kPackageMarkName, home)) {
        case os::PublishedState::Missing:
            return PackageFolderState::Missing;
        case os::PublishedState::Ours:
            return PackageFolderState::Ours;
        case os::PublishedState::Unmarked:
            return PackageFolderState::Unmarked;
        case os::PublishedState::Foreign:
            break;
    }
    return PackageFolderState::Foreign;
}

// The key id a package folder's mark records its archive was checked with.
std::string PackageSignedBy(const std::string& folder) {
    const auto [path, home] = PublishedPathOf(folder);
    const auto fields = os::PublishedMarkFields(path, kPackageMarkName, home);
    if (!fields) return {};
    const auto signedBy = fields->find(kSignedByMarkField);
    return signedBy == fields->end() ? std::string() : signedBy->second;
}

// The signature file at `url`, cut off past kMostSignatureFileBytes, which no real one reaches.
std::optional<std::string> FetchSignatureFile(const std::string& url, const std::string& path,
                                              DownloadWatch& watch) {
    watch.progress = [](int64_t done, int64_t total) {
        return done <= static_cast<int64_t>(kMostSignatureFileBytes) &&
               total <= static_cast<int64_t>(kMostSignatureFileBytes);
    };
    if (DownloadToNewFile(url, path, &watch) == 0) return std::nullopt;
    std::optional<std::string> text;
    {
        std::ifstream file(path, std::ios::binary);
        std::string read(std::istreambuf_iterator<char>(file), {});
        if (file.good() || file.eof()) text = std::move(read);
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    return text;
}

}  // namespace

BrushServices RealPackageServices() {
    BrushServices s;
    s.moduleDirectory = ModuleDirectory();
    s.defaultCacheFolder = DefaultCacheFolder();
    s.downloadResumable = [](const std::string& url, const std::string& path,
                             const DownloadResume& resume, DownloadWatch& watch) {
        return DownloadResumable(url, path, resume, &watch);
    };
    s.makeCacheFolder = [](const std::string& folder) { return MakeCacheFolder(folder); };
    s.removeStaging = [](const std::string& folder, const std::string& name, bool alsoThisRun) {
        RemoveStagingLeftovers(folder, name, alsoThisRun);
    };
    s.unzipWatched = [](const std::string& archive, const std::string& directory,
                        const std::function<bool(uint64_t, uint64_t)>& progress,
                        const ArchiveCheck& check) {
        return UnzipResultOf(ExtractZip(archive, directory, progress, check));
    };
    // The key comes from the build only: nothing at run time can change what is trusted.
    s.packageKey = MAPLENOOK_PACKAGE_KEY;
    s.fetchSignature = FetchSignatureFile;
    s.packageSignedBy = PackageSignedBy;
    s.packageFolderState = PackageFolderStateOf;
    s.safeToStart = [](const std::string& cacheFolder, const std::string& program) {
        return os::IsSafeToStart(cacheFolder, program);
    };
    s.freeSpace = [](const std::string& folder) { return os::FreeSpaceOf(folder); };
    s.cacheFolderAcceptable = [module = s.moduleDirectory](const std::string& folder) {
        return os::JudgeCacheFolder(folder, module) == os::CacheFolderRefusal::None;
    };
    // A program keeps the execute bit it was archived with; a file without one opens with the
    // desktop's default handler, as the default verb would. It starts from the file its own
    // check opened, so nothing swapped in after safeToStart can run.
    s.startProgram = [](const std::string& directory, const std::string& file) {
        return os::StartCheckedProgram(file, directory);
    };
    s.fileExists = [](const std::string& path) { return os::FileExists(path); };
    s.removeFile = [](const std::string& path) {
        std::error_code error;
        return std::filesystem::remove(path, error);
    };
    s.queueTask = [](std::function<void()> task) { QueueWorkerTask(std::move(task)); };
    return s;
}
