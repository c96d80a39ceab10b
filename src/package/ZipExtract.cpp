#include "package/ZipExtract.h"

#include "os/DiagnosticLog.h"
#include "os/FileOps.h"
#include "os/FreeSpace.h"
#include "os/ReadAtFile.h"
#include "os/StagingFolder.h"
#include "package/StagingNames.h"
#include "package/ZipChecks.h"
#include "package/ZipDirectory.h"
#include "package/ZipEntryWriter.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

// The extraction's course: entries in directory order into a staging folder, folders made
// as they are needed, and the folder published when every entry checked out. Reading the
// directory, writing an entry's data and the checks live in ZipDirectory, ZipEntryWriter and
// ZipChecks.
using namespace zip;

namespace {

constexpr unsigned long kMadeOnUnix = 3;
constexpr unsigned kFileTypeMask = 0170000;
constexpr unsigned kLinkType = 0120000;
constexpr unsigned kDefaultFileMode = 0666;
constexpr unsigned long kEncryptedFlag = 0x1;
constexpr unsigned long kUtf8NameFlag = 0x800;
// Room asked beyond the entries' size: blocks partly used, folders, the file system's own.
constexpr uint64_t kLeastRoomMargin = 1 << 20;
constexpr uint64_t kRoomMarginShare = 50;

bool EndsWithSeparator(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

// Writes one archive into a staging folder, checking every entry on the way.
class Extractor {
  public:
    Extractor(unzFile zip, os::ReadAtFile& file, std::string archive, os::StagingFolder& stage,
              const ExtractProgress& progress, uint64_t total)
        : zip_(zip),
          archive_(std::move(archive)),
          stage_(stage),
          writer_(zip, file, archive_, entry_, progress, total),
          name_(kFieldSize),
          extra_(kFieldSize) {}

    ExtractResult ExtractCurrentEntry();
    // Folder entries' modes go on last, so that a read-only folder does not refuse its files.
    ExtractResult ApplyFolderModes();

  private:
    ExtractResult EnsureFolder(const std::string& relative);
    ExtractResult WriteFile(const std::string& relative, const unz_file_info64& info,
                            const EntrySizes& sizes, unsigned mode, int64_t modifyTime);
    ExtractResult EntryFailed(ExtractResult result, const std::string& why) const {
        return writer_.EntryFailed(result, why);
    }

    unzFile zip_;
    std::string archive_;
    std::string entry_;  // the current entry's stored name, printable
    os::StagingFolder& stage_;
    EntryWriter writer_;
    std::vector<char> name_;
    std::vector<unsigned char> extra_;
    std::unordered_set<std::string> folders_;
    std::vector<std::pair<std::string, unsigned>> folderModes_;
};

ExtractResult Extractor::EnsureFolder(const std::string& relative) {
    if (relative.empty() || folders_.count(relative) != 0) return ExtractResult::Done;
    const auto slash = relative.rfind('/');
    if (slash != std::string::npos) {
        const auto parent = EnsureFolder(relative.substr(0, slash));
        if (parent != ExtractResult::Done) return parent;
    }
    if (!stage_.MakeFolder(relative))
        return writer_.WriteFailed(stage_.ranOutOfRoom(),
                                   "cannot make the folder " + Printable(relative));
    folders_.insert(relative);
    return ExtractResult::Done;
}

ExtractResult Extractor::WriteFile(const std::string& relative, const unz_file_info64& info,
                                   const EntrySizes& sizes, unsigned mode, int64_t modifyTime) {
    os::StagingFolder::File out;
    if (!stage_.CreateFile(relative, out))
        return writer_.WriteFailed(stage_.ranOutOfRoom(), "cannot create its file");
    return writer_.Write(out, info, sizes, mode, modifyTime);
}

ExtractResult Extractor::ExtractCurrentEntry() {
    unz_file_info64 info{};
    entry_.clear();
    if (unzGetCurrentFileInfo64(zip_, &info, name_.data(), name_.size(), extra_.data(),
                                extra_.size(), nullptr, 0) != UNZ_OK) {
        return EntryFailed(ExtractResult::Archive, "its header cannot be read");
    }
    const std::string stored(name_.data(), std::min<size_t>(info.size_filename, name_.size()));
    entry_ = Printable(stored);
    // Anything but plain stored or deflated data could only be written wrong.
    if ((info.flag & kEncryptedFlag) != 0)
        return EntryFailed(ExtractResult::Archive, "it is encrypted");
    if (info.compression_method != kStored && info.compression_method != kDeflated)
        return EntryFailed(ExtractResult::Archive,
                           "compression method " + std::to_string(info.compression_method));
    const size_t extraSize = std::min<size_t>(info.size_file_extra, extra_.size());
    const auto sizes = RealSizes(info, extra_.data(), extraSize);
    if (!sizes) return EntryFailed(ExtractResult::Archive, "its Zip64 sizes are cut short");
    if (info.compression_method == kStored && sizes->compressed != sizes->uncompressed)
        return EntryFailed(ExtractResult::Archive, "stored, but its two sizes differ");

    const auto name =
        EntryNameUtf8(stored, (info.flag & kUtf8NameFlag) != 0, extra_.data(), extraSize);
    // A name we cannot read, or one that would land outside, is skipped, not written.
    if (!name) return ExtractResult::Done;
    const auto relative = SafeEntryPath(*name);
    if (!relative || relative->empty()) return ExtractResult::Done;

    const unsigned mode = static_cast<unsigned>(info.external_fa >> 16);
    // Some tools claim Unix and store no mode at all; that is no information, not mode 0000.
    const bool hasMode = (info.version >> 8) == kMadeOnUnix && (mode & 07777) != 0;
    if (EndsWithSeparator(*name)) {
        const auto made = EnsureFolder(*relative);
        if (made == ExtractResult::Done && hasMode) folderModes_.emplace_back(*relative, mode);
        return made;
    }
    const auto slash = relative->rfind('/');
    if (slash != std::string::npos) {
        const auto made = EnsureFolder(relative->substr(0, slash));
        if (made != ExtractResult::Done) return made;
    }
    // A symbolic link (or any other special) entry becomes a plain file holding its data,
    // never a link. It keeps its permission bits, except a link, whose bits are always
    // rwxrwxrwx and say nothing: its text must not become a program.
    const bool keepsMode = hasMode && (mode & kFileTypeMask) != kLinkType;
    const auto stamped = ExtendedModifyTime(extra_.data(), extraSize);
    return WriteFile(*relative, info, *sizes, keepsMode ? mode : kDefaultFileMode,
                     stamped ? *stamped : DosLocalTime(info.tmu_date));
}

ExtractResult Extractor::ApplyFolderModes() {
    bool ok = true;
    for (const auto& [relative, mode] : folderModes_)
        ok = stage_.SetFolderMode(relative, mode) && ok;
    if (ok) return ExtractResult::Done;
    return Refused(Failure(stage_.ranOutOfRoom()), archive_,
                   "cannot set a folder's mode: " + ErrnoText());
}

}  // namespace

namespace {

// Extracts the opened archive into a staging folder beside `folder` and publishes it there.
ExtractResult ExtractInto(unzFile zip, os::ReadAtFile& file, const std::string& archivePath,
                          const std::string& folder, uint64_t entries, uint64_t total,
                          const ExtractProgress& progress, const ArchiveCheck& check) {
    const auto slash = folder.rfind('/');
    const std::string parent = folder.substr(0, slash + 1);
    const uint64_t room = os::FreeSpaceOf(parent);
    const uint64_t needed = total + std::max(total / kRoomMarginShare, kLeastRoomMargin);
    if (room != UINT64_MAX && needed > room) {
        return Refused(ExtractResult::Disk, archivePath,
                       "no room: " + std::to_string(needed) + " bytes needed, " +
                           std::to_string(room) + " free in " + parent);
    }
    int rc = unzGoToFirstFile(zip);
    if (entries > 0 && rc != UNZ_OK)
        return Refused(ExtractResult::Archive, archivePath, "its first entry cannot be found");
    // Work in progress goes to the cache's own staging folder, on the same file system.
    const std::string home = StagingHomeOf(parent);
    os::StagingFolder stage;
    if (!os::CreateDirectories(parent) || !os::MakeStagingHome(home) ||
        !stage.Create(home, folder, ExtractionStagingPrefix(folder.substr(slash + 1)))) {
        const int error = errno;
        return Refused(Failure(os::IsOutOfRoom(error)), archivePath,
                       "cannot stage in " + home + ": " + std::strerror(error));
    }
    Extractor extractor(zip, file, archivePath, stage, progress, total);
    uint64_t index = 0;
    for (; rc == UNZ_OK && index < entries; rc = unzGoToNextFile(zip), ++index) {
        // One bad entry fails the package: the staging folder goes, the old folder stays.
        const auto result = extractor.ExtractCurrentEntry();
        if (result != ExtractResult::Done) return result;
    }
    // A central directory that ends early leaves entries nobody could reach.
    if (index < entries)
        return Refused(ExtractResult::Archive, archivePath,
                       "the central directory ends after " + std::to_string(index) + " of " +
                           std::to_string(entries) + " entries");
    const auto modes = extractor.ApplyFolderModes();
    if (modes != ExtractResult::Done) return modes;
    if (check) {
        for (const auto& [key, value] : check.markFields) stage.AddMarkField(key, value);
    }
    switch (stage.Publish(kPackageMarkName, kPackageManifestName)) {
        case os::StagingFolder::PublishResult::Published:
            return ExtractResult::Done;
        case os::StagingFolder::PublishResult::InUse:
            return Refused(ExtractResult::InUse, archivePath,
                           "a program runs in " + folder + "; it stays until that ends");
        case os::StagingFolder::PublishResult::InTheWay:
            return Refused(ExtractResult::Conflict, archivePath,
                           folder + " was not made by this program; left alone");
        case os::StagingFolder::PublishResult::Failed:
            break;
    }
    const int error = errno;
    return Refused(Failure(os::IsOutOfRoom(error)), archivePath,
                   "cannot put " + folder + " in place: " + std::strerror(error));
}

ExtractResult OpenAndExtract(const std::string& archivePath, const std::string& folder,
                             const ExtractProgress& progress, const ArchiveCheck& check) {
    ArchiveStream archive;
    if (!archive.file.Open(archivePath))
        return Refused(ExtractResult::Archive, archivePath, "cannot open it: " + ErrnoText());
    if (check && !check.accepts(archive.file))
        return Refused(ExtractResult::Refused, archivePath, "the archive check refused it");
    unzFile zip = OpenArchive(archive, archivePath);
    if (zip == nullptr)
        return Refused(ExtractResult::Archive, archivePath, "no zip central directory found");
    ZipCloser closer{zip};
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK)
        return Refused(ExtractResult::Archive, archivePath, "its central directory is unreadable");
    const auto total = TotalSize(zip, global.number_entry, archive.file.size());
    if (!total)
        return Refused(ExtractResult::Archive, archivePath,
                       "an entry's sizes are unreadable or cannot be true");
    return ExtractInto(zip, archive.file, archivePath, folder, global.number_entry, *total,
                       progress, check);
}

}  // namespace

ExtractResult ExtractZip(const std::string& archivePath, const std::string& destination,
                         const ExtractProgress& progress, const ArchiveCheck& check) {
    std::string folder = destination;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    if (folder.empty() || folder.find('/') == std::string::npos)
        return Refused(ExtractResult::Archive, archivePath, "no folder to extract into");
    os::LogDebug("extraction started", archivePath + " -> " + folder);
    const ExtractResult result = OpenAndExtract(archivePath, folder, progress, check);
    if (result == ExtractResult::Done) os::LogDebug("extraction finished", folder);
    return result;
}
