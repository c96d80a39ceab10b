#include "mainpanel/PackageServices.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "base/Settings.h"
#include "base/WorkerPool.h"
#include "mainpanel/PackageCache.h"
#include "os/DiagnosticLog.h"
#include "os/Files.h"
#include "os/FolderTrust.h"
#include "os/FreeSpace.h"
#include "os/StagingFolder.h"
#include "os/ProcFs.h"
#include "os/Shell.h"
#include "phone/ModuleLib.h"
#include "phone/PhoneDetector.h"
#include "phone/StagingNames.h"
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
        case ExtractResult::Archive:
            break;
    }
    return UnzipResult::Damaged;
}

}  // namespace

BrushServices RealPackageServices() {
    BrushServices s;
    s.moduleDirectory = ModuleDirectory();
    s.defaultCacheDir = DefaultCacheFolder();
    s.downloadToFile = [](const std::string& url, const std::string& path) {
        const auto done = DownloadToNewFile(url, path);
        if (!done) os::LogFailure("download failed", url + " -> " + path);
        return done;
    };
    s.downloadWatched = [](const std::string& url, const std::string& path, DownloadWatch& watch) {
        return DownloadToNewFile(url, path, &watch);
    };
    s.makeCacheFolder = [](const std::string& folder) { return MakeCacheFolder(folder); };
    s.removeStaging = [](const std::string& folder, const std::string& name, bool alsoThisRun) {
        RemoveStagingLeftovers(folder, name, alsoThisRun);
    };
    s.unzipTo = [](const std::string& archive, const std::string& directory) {
        const bool done = CModuleLib::Instance().UnzipTo(archive, directory);
        if (!done) os::LogFailure("extraction failed", archive + " -> " + directory);
        return done;
    };
    s.unzipWatched = [](const std::string& archive, const std::string& directory,
                        const std::function<bool(uint64_t, uint64_t)>& progress) {
        const ExtractResult result =
            CModuleLib::Instance().UnzipToWithCause(archive, directory, progress);
        if (result != ExtractResult::Done && result != ExtractResult::Cancelled)
            os::LogFailure("extraction failed", archive + " -> " + directory);
        return UnzipResultOf(result);
    };
    s.packageFolderState = [](const std::string& folder) {
        switch (os::StateOfPublished(folder, kPackageMarkName)) {
            case os::PublishedState::Missing:
                return PackageFolderState::Missing;
            case os::PublishedState::Ours:
                return PackageFolderState::Ours;
            case os::PublishedState::Foreign:
                break;
        }
        os::LogFailure("package folder in the way", folder);
        return PackageFolderState::Foreign;
    };
    s.safeToStart = [](const std::string& cacheFolder, const std::string& program) {
        const bool safe = os::IsSafeToStart(cacheFolder, program);
        if (!safe) os::LogFailure("package may have been changed by another user", program);
        return safe;
    };
    s.freeSpace = [](const std::string& folder) { return os::FreeSpaceOf(folder); };
    s.cacheFolderAcceptable = [module = s.moduleDirectory](const std::string& folder) {
        return os::JudgeCacheFolder(folder, module) == os::CacheFolderRefusal::None;
    };
    // A program keeps the execute bit it was archived with; a file without one opens with the
    // desktop's default handler, as the default verb would.
    s.startProgram = [](const std::string& directory, const std::string& file) {
        const bool started = os::ShellOpen(file, {}, directory);
        if (!started) os::LogFailure("program did not start", file);
        return started;
    };
    s.fileExists = [](const std::string& path) { return os::FileExists(path); };
    s.removeFile = [](const std::string& path) {
        std::error_code error;
        return std::filesystem::remove(path, error);
    };
    s.queueTask = [](std::function<void()> task) { QueueWorkerTask(std::move(task)); };
    return s;
}

CompanionServices RealCompanionServices() {
    return RealCompanionServices(std::make_shared<CPhoneDetector>());
}

CompanionServices RealCompanionServices(std::shared_ptr<CPhoneDetector> detector) {
    CompanionServices s;
    s.listPhoneInstanceIds = [detector] {
        std::vector<PhoneInterface> phones;
        detector->ListPhones(phones, true);
        std::vector<std::string> ids;
        for (const auto& phone : phones) ids.push_back(phone.instanceId);
        return ids;
    };
    s.isPresent = [detector](const std::string& instanceId) {
        return detector->IsPresent(instanceId);
    };
    s.isProcessRunning = [](const std::string& imageName) {
        std::vector<std::string> names;
        for (const auto& process : os::ListProcesses()) {
            for (auto& name : ProcessNames(process.imageName, process.arguments))
                names.push_back(std::move(name));
        }
        return IsProcessRunning(names, imageName);
    };
    s.runAdb = [](const std::string& command) { return CModuleLib::Instance().RunAdb(command); };
    s.wait = [](int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    };
    return s;
}
