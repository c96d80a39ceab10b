#include "phone/ZipExtract.h"

#include "BuildConfig.h"
#include "os/ReadAtFile.h"
#include "os/StagingFolder.h"
#include "os/TextEncoding.h"
#include "phone/StagingNames.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// One buffer serves every entry of an archive; large pieces keep the reads few.
constexpr size_t kPieceSize = 256 * 1024;
constexpr size_t kFieldSize = 65536;  // a stored name or extra field is at most this long
constexpr unsigned long kMadeOnUnix = 3;
constexpr unsigned kFileTypeMask = 0170000;
constexpr unsigned kRegularFileType = 0100000;
constexpr unsigned kDefaultFileMode = 0666;
constexpr unsigned long kEncryptedFlag = 0x1;
constexpr unsigned long kUtf8NameFlag = 0x800;
constexpr unsigned long kStored = 0;
constexpr unsigned long kDeflated = 8;
constexpr uint16_t kExtendedTimestampId = 0x5455;  // "UT": modification time in UTC
constexpr uint16_t kUnicodePathId = 0x7075;        // "up": the name in UTF-8
const char* const kFallbackCodePage = "CP437";     // the code page of the zip format itself

struct ZipCloser {
    unzFile zip;
    ~ZipCloser() { unzClose(zip); }
};

// minizip reads the archive through these: a position over a reader that keeps a few large
// blocks, instead of a seek and a small read on a stdio stream for every header.
struct ArchiveStream {
    os::ReadAtFile file;
    uint64_t position = 0;
};

voidpf ZCALLBACK OpenArchive(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    return opaque;  // opened before minizip asks
}

uLong ZCALLBACK ReadArchive(voidpf, voidpf stream, void* data, uLong size) {
    auto* archive = static_cast<ArchiveStream*>(stream);
    const size_t n = archive->file.ReadAt(archive->position, data, size);
    archive->position += n;
    return static_cast<uLong>(n);
}

uLong ZCALLBACK WriteArchive(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK TellArchive(voidpf, voidpf stream) {
    return static_cast<ArchiveStream*>(stream)->position;
}

long ZCALLBACK SeekArchive(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* archive = static_cast<ArchiveStream*>(stream);
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            archive->position = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            archive->position += offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_END:
            archive->position = archive->file.size() + offset;
            return 0;
        default:
            return -1;
    }
}

int ZCALLBACK CloseArchive(voidpf, voidpf) {
    return 0;
}

// A short read shows to minizip as a short count, which it treats as an error itself.
int ZCALLBACK ArchiveError(voidpf, voidpf) {
    return 0;
}

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The data of the first extra field `id`, or null.
const unsigned char* FindExtraField(const unsigned char* extra, size_t size, uint16_t id,
                                    uint16_t& length) {
    size_t at = 0;
    while (at + 4 <= size) {
        const uint16_t fieldId = Le16(extra + at);
        length = Le16(extra + at + 2);
        if (at + 4 + length > size) break;
        if (fieldId == id) return extra + at + 4;
        at += 4 + length;
    }
    return nullptr;
}

// The "UT" extra field carries the exact modification time; the DOS date has two-second steps
// and no time zone, so it is only the fallback.
std::optional<int64_t> ExtendedModifyTime(const unsigned char* extra, size_t size) {
    uint16_t length = 0;
    const unsigned char* data = FindExtraField(extra, size, kExtendedTimestampId, length);
    if (data == nullptr || length < 5 || (data[0] & 1) == 0) return std::nullopt;
    return static_cast<int64_t>(static_cast<int32_t>(Le32(data + 1)));
}

int64_t DosLocalTime(const tm_unz& date) {
    std::tm local{};
    local.tm_year = static_cast<int>(date.tm_year) - 1900;
    local.tm_mon = static_cast<int>(date.tm_mon);
    local.tm_mday = static_cast<int>(date.tm_mday);
    local.tm_hour = static_cast<int>(date.tm_hour);
    local.tm_min = static_cast<int>(date.tm_min);
    local.tm_sec = static_cast<int>(date.tm_sec);
    local.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&local));
}

bool EndsWithSeparator(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

// Writes one archive into a staging folder, checking every entry on the way.
class Extractor {
  public:
    Extractor(unzFile zip, os::StagingFolder& stage, const ExtractProgress& progress,
              uint64_t total)
        : zip_(zip),
          stage_(stage),
          progress_(progress),
          total_(total),
          piece_(kPieceSize),
          name_(kFieldSize),
          extra_(kFieldSize) {}

    bool ExtractCurrentEntry();
    // Folder entries' modes go on last, so that a read-only folder does not refuse its files.
    bool ApplyFolderModes();

  private:
    bool EnsureFolder(const std::string& relative);
    bool WriteFile(const std::string& relative, const unz_file_info64& info, unsigned mode,
                   int64_t modifyTime);

    unzFile zip_;
    os::StagingFolder& stage_;
    const ExtractProgress& progress_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    std::vector<char> piece_;
    std::vector<char> name_;
    std::vector<unsigned char> extra_;
    std::unordered_set<std::string> folders_;
    std::vector<std::pair<std::string, unsigned>> folderModes_;
};

bool Extractor::EnsureFolder(const std::string& relative) {
    if (relative.empty() || folders_.count(relative) != 0) return true;
    const auto slash = relative.rfind('/');
    if (slash != std::string::npos && !EnsureFolder(relative.substr(0, slash))) return false;
    if (!stage_.MakeFolder(relative)) return false;
    folders_.insert(relative);
    return true;
}

bool Extractor::WriteFile(const std::string& relative, const unz_file_info64& info, unsigned mode,
                          int64_t modifyTime) {
    os::StagingFolder::File out;
    if (!stage_.CreateFile(relative, out)) return false;
    if (unzOpenCurrentFile(zip_) != UNZ_OK) return false;
    bool ok = true;
    uint64_t size = 0;
    for (;;) {
        const int n = unzReadCurrentFile(zip_, piece_.data(), static_cast<unsigned>(piece_.size()));
        if (n < 0) ok = false;
        if (n <= 0) break;
        size += static_cast<uint64_t>(n);
        if (!out.Write(piece_.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
        done_ += static_cast<uint64_t>(n);
        if (progress_ && !progress_(done_, total_)) {
            ok = false;  // stopped: the staging folder goes with the failure
            break;
        }
    }
    // The reader stops at the directory's size, so a short stream shows in the size. Once all
    // of it was read, closing compares the CRC-32 of the data with the directory's.
    ok = (unzCloseCurrentFile(zip_) == UNZ_OK) && ok;
    ok = ok && size == info.uncompressed_size;
    return out.Finish(mode, modifyTime) && ok;
}

bool Extractor::ExtractCurrentEntry() {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip_, &info, name_.data(), name_.size(), extra_.data(),
                                extra_.size(), nullptr, 0) != UNZ_OK) {
        return false;
    }
    // Anything but plain stored or deflated data could only be written wrong.
    if ((info.flag & kEncryptedFlag) != 0) return false;
    if (info.compression_method != kStored && info.compression_method != kDeflated) return false;
    if (info.compression_method == kStored && info.compressed_size != info.uncompressed_size)
        return false;

    const std::string stored(name_.data(), std::min<size_t>(info.size_filename, name_.size()));
    const size_t extraSize = std::min<size_t>(info.size_file_extra, extra_.size());
    const auto name =
        EntryNameUtf8(stored, (info.flag & kUtf8NameFlag) != 0, extra_.data(), extraSize);
    // A name we cannot read, or one that would land outside, is skipped, not written.
    if (!name) return true;
    const auto relative = SafeEntryPath(*name);
    if (!relative) return true;
    if (relative->empty()) return true;

    const unsigned mode = static_cast<unsigned>(info.external_fa >> 16);
    // Some tools claim Unix and store no mode at all; that is no information, not mode 0000.
    const bool hasMode = (info.version >> 8) == kMadeOnUnix && (mode & 07777) != 0;
    if (EndsWithSeparator(*name)) {
        if (!EnsureFolder(*relative)) return false;
        if (hasMode) folderModes_.emplace_back(*relative, mode);
        return true;
    }
    const auto slash = relative->rfind('/');
    if (slash != std::string::npos && !EnsureFolder(relative->substr(0, slash))) return false;
    // A symbolic link (or any other special) entry becomes a plain file holding its data,
    // never a link.
    const unsigned type = mode & kFileTypeMask;
    const bool plainMode = hasMode && (type == kRegularFileType || type == 0);
    const auto stamped = ExtendedModifyTime(extra_.data(), extraSize);
    return WriteFile(*relative, info, plainMode ? mode : kDefaultFileMode,
                     stamped ? *stamped : DosLocalTime(info.tmu_date));
}

bool Extractor::ApplyFolderModes() {
    bool ok = true;
    for (const auto& [relative, mode] : folderModes_)
        ok = stage_.SetFolderMode(relative, mode) && ok;
    return ok;
}

}  // namespace

std::optional<std::string> EntryNameUtf8(const std::string& storedName, bool utf8Flag,
                                         const unsigned char* extra, size_t extraSize) {
    if (storedName.find('\0') != std::string::npos) return std::nullopt;
    if (utf8Flag) {
        if (!os::IsValidUtf8(storedName)) return std::nullopt;
        return storedName;
    }
    // Info-ZIP's "up" field: version 1, the CRC-32 of the stored name it belongs to, UTF-8.
    uint16_t length = 0;
    const unsigned char* up = FindExtraField(extra, extraSize, kUnicodePathId, length);
    if (up != nullptr && length > 5 && up[0] == 1) {
        const uLong nameCrc =
            crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(storedName.data()),
                  static_cast<uInt>(storedName.size()));
        const std::string unicode(reinterpret_cast<const char*>(up + 5), length - 5u);
        if (Le32(up + 1) == nameCrc && unicode.find('\0') == std::string::npos &&
            os::IsValidUtf8(unicode)) {
            return unicode;
        }
    }
    // Unix archivers write UTF-8 without the flag; the makers' tools write their code page,
    // whose double-byte names are hardly ever valid UTF-8 as well.
    if (os::IsValidUtf8(storedName)) return storedName;
    if (auto legacy = os::DecodeToUtf8(storedName, MAPLENOOK_LEGACY_CODEPAGE)) return legacy;
    return os::DecodeToUtf8(storedName, kFallbackCodePage);
}

std::optional<std::string> SafeEntryPath(const std::string& storedName) {
    if (storedName.find('\0') != std::string::npos) return std::nullopt;
    std::string name = storedName;
    for (auto& c : name) {
        if (c == '\\') c = '/';
    }
    if (!name.empty() && name[0] == '/') return std::nullopt;
    const bool driveLetter =
        name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    if (driveLetter) return std::nullopt;

    std::string relative;
    size_t start = 0;
    while (start <= name.size()) {
        auto end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") {
            if (!relative.empty()) relative += '/';
            relative += part;
        }
        start = end + 1;
    }
    return relative;
}

bool ExtractZip(const std::string& archivePath, const std::string& destination,
                const ExtractProgress& progress) {
    std::string folder = destination;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    if (folder.empty()) return false;
    ArchiveStream archive;
    if (!archive.file.Open(archivePath)) return false;
    zlib_filefunc64_def access{OpenArchive, ReadArchive,  WriteArchive, TellArchive,
                               SeekArchive, CloseArchive, ArchiveError, &archive};
    unzFile zip = unzOpen2_64(archivePath.c_str(), &access);
    if (zip == nullptr) return false;
    ZipCloser closer{zip};
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) return false;
    int rc = unzGoToFirstFile(zip);
    if (global.number_entry > 0 && rc != UNZ_OK) return false;
    // The whole size, for progress: the directory's sizes, read before any entry is.
    uint64_t total = 0;
    if (progress) {
        for (uint64_t i = 0; rc == UNZ_OK && i < global.number_entry;
             rc = unzGoToNextFile(zip), ++i) {
            unz_file_info64 info{};
            if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK)
                total += info.uncompressed_size;
        }
        rc = unzGoToFirstFile(zip);
        if (global.number_entry > 0 && rc != UNZ_OK) return false;
    }

    const auto slash = folder.rfind('/');
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    os::StagingFolder stage;
    if (!stage.Create(folder, ExtractionStagingPrefix(name))) return false;
    Extractor extractor(zip, stage, progress, total);
    uint64_t index = 0;
    for (; rc == UNZ_OK && index < global.number_entry; rc = unzGoToNextFile(zip), ++index) {
        // One bad entry fails the package: the staging folder goes, the old folder stays.
        if (!extractor.ExtractCurrentEntry()) return false;
    }
    // A central directory that ends early leaves entries nobody could reach.
    if (index < global.number_entry) return false;
    if (!extractor.ApplyFolderModes()) return false;
    return stage.Publish();
}
