#include "package/ZipExtract.h"

#include "BuildConfig.h"
#include "os/DiagnosticLog.h"
#include "os/FileOps.h"
#include "os/FreeSpace.h"
#include "os/ReadAtFile.h"
#include "os/StagingFolder.h"
#include "os/TextEncoding.h"
#include "package/StagingNames.h"

#include <libdeflate.h>
#include <minizip/unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// Stored data is copied in pieces of this size through one buffer: few system calls, and a
// piece is still in cache when it is written after its CRC pass.
constexpr size_t kPieceSize = 256 * 1024;
// Deflated data is read and inflated in blocks this large: few system calls, and zlib keeps
// its window copy (up to 32 KiB per inflate call) small beside the output.
constexpr size_t kInflateBlockSize = 1 << 20;
constexpr size_t kFieldSize = 65536;  // a stored name or extra field is at most this long
constexpr unsigned long kMadeOnUnix = 3;
constexpr unsigned kFileTypeMask = 0170000;
constexpr unsigned kLinkType = 0120000;
constexpr unsigned kDefaultFileMode = 0666;
constexpr unsigned long kEncryptedFlag = 0x1;
constexpr unsigned long kUtf8NameFlag = 0x800;
constexpr unsigned long kStored = 0;
constexpr unsigned long kDeflated = 8;
constexpr uint16_t kZip64Id = 0x0001;              // 8-byte sizes and offset
constexpr uint64_t kZip64Marker = 0xFFFFFFFF;      // "the real value is in the Zip64 field"
constexpr uint16_t kExtendedTimestampId = 0x5455;  // "UT": modification time in UTC
constexpr uint16_t kUnicodePathId = 0x7075;        // "up": the name in UTF-8
const char* const kFallbackCodePage = "CP437";     // the code page of the zip format itself
// Deflate gives at most 1032 bytes for one of input; a claim beyond that cannot be true.
constexpr uint64_t kMostDeflateGrowth = 1033;
// Room asked beyond the entries' size: blocks partly used, folders, the file system's own.
constexpr uint64_t kLeastRoomMargin = 1 << 20;
constexpr uint64_t kRoomMarginShare = 50;

struct ZipCloser {
    unzFile zip;
    ~ZipCloser() { unzClose(zip); }
};

// A raw deflate stream (no zlib header: the zip entry's own data), set up once and reset for
// each entry so that many small entries do not each allocate a window.
class RawInflater {
  public:
    RawInflater() = default;
    ~RawInflater() {
        if (ready_) inflateEnd(&stream_);
    }
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // The stream, ready for a new entry; null when zlib could not set it up (out of memory).
    z_stream* Start() {
        if (ready_) return inflateReset(&stream_) == Z_OK ? &stream_ : nullptr;
        stream_ = z_stream{};
        ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
        return ready_ ? &stream_ : nullptr;
    }

  private:
    z_stream stream_{};
    bool ready_ = false;
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

uint64_t Le64(const unsigned char* p) {
    return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
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

struct EntrySizes {
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
};

// An entry's sizes. A central directory size of 0xFFFFFFFF means the real one is in the Zip64
// field, which holds 8-byte values for only the marked sizes, uncompressed first (Info-ZIP's
// "zip -fz" marks the uncompressed size of every entry). minizip 1.1 as Debian builds it
// passes the marker on unread, so the field is read here. Nothing when the field is short.
std::optional<EntrySizes> RealSizes(const unz_file_info64& info, const unsigned char* extra,
                                    size_t extraSize) {
    EntrySizes sizes{info.compressed_size, info.uncompressed_size};
    const bool markedUncompressed = sizes.uncompressed == kZip64Marker;
    const bool markedCompressed = sizes.compressed == kZip64Marker;
    if (!markedUncompressed && !markedCompressed) return sizes;
    uint16_t length = 0;
    const unsigned char* field = FindExtraField(extra, extraSize, kZip64Id, length);
    // Archivers older than Zip64 wrote a size of exactly 4 GiB - 1 this way.
    if (field == nullptr) return sizes;
    size_t at = 0;
    for (auto [marked, size] : {std::pair{markedUncompressed, &sizes.uncompressed},
                                std::pair{markedCompressed, &sizes.compressed}}) {
        if (!marked) continue;
        if (at + 8 > length) return std::nullopt;
        *size = Le64(field + at);
        at += 8;
    }
    return sizes;
}

// Whether the entry's sizes could belong to what it is: data inside the archive, stored as
// it is or deflated no more than deflate can.
bool SizesPossible(const EntrySizes& sizes, unsigned long method, uint64_t archiveSize) {
    if (sizes.compressed > archiveSize) return false;
    if (method == kStored) return sizes.compressed == sizes.uncompressed;
    return sizes.uncompressed / kMostDeflateGrowth <= sizes.compressed;
}

ExtractResult Failure(bool outOfRoom) {
    return outOfRoom ? ExtractResult::Disk : ExtractResult::Archive;
}

// A name from the archive as it may go into a log line: no line breaks or other controls.
std::string Printable(const std::string& text) {
    std::string printable = text;
    for (auto& c : printable) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return printable;
}

// Logs why the extraction of `archive` failed and hands the result on.
ExtractResult Refused(ExtractResult result, const std::string& archive, const std::string& why) {
    if (result == ExtractResult::Cancelled) {
        os::LogDebug("extraction stopped", archive);
    } else if (result == ExtractResult::Conflict || result == ExtractResult::InUse) {
        os::LogWarning("package folder in the way", archive + ": " + why);
    } else if (result == ExtractResult::Refused) {
        os::LogError("extraction refused", archive + ": " + why);
    } else {
        os::LogError("extraction failed", archive + ": " + why);
    }
    return result;
}

// The system's word for the error of the call that just failed.
std::string ErrnoText() {
    return std::strerror(errno);
}

// Writes one archive into a staging folder, checking every entry on the way.
class Extractor {
  public:
    Extractor(unzFile zip, os::ReadAtFile& file, std::string archive, os::StagingFolder& stage,
              const ExtractProgress& progress, uint64_t total)
        : zip_(zip),
          file_(file),
          archive_(std::move(archive)),
          stage_(stage),
          progress_(progress),
          total_(total),
          piece_(kPieceSize),
          name_(kFieldSize),
          extra_(kFieldSize) {}

    ExtractResult ExtractCurrentEntry();
    // Folder entries' modes go on last, so that a read-only folder does not refuse its files.
    ExtractResult ApplyFolderModes();

  private:
    ExtractResult EnsureFolder(const std::string& relative);
    ExtractResult WriteFile(const std::string& relative, const unz_file_info64& info,
                            const EntrySizes& sizes, unsigned mode, int64_t modifyTime);
    ExtractResult CopyStored(const EntrySizes& sizes, os::StagingFolder::File& out, uLong& crc,
                             uint64_t& size);
    ExtractResult CopyDeflated(const EntrySizes& sizes, os::StagingFolder::File& out, uLong& crc,
                               uint64_t& size);
    // Checks and writes `count` bytes of the entry's data.
    ExtractResult TakeData(const unsigned char* data, size_t count, const EntrySizes& sizes,
                           os::StagingFolder::File& out, uLong& crc, uint64_t& size);
    // Logs why the current entry failed and hands the result on.
    ExtractResult EntryFailed(ExtractResult result, const std::string& why) const {
        return Refused(result, archive_, "entry \"" + entry_ + "\": " + why);
    }
    ExtractResult WriteFailed(bool outOfRoom, const std::string& what) const {
        return EntryFailed(Failure(outOfRoom), what + ": " + ErrnoText());
    }

    unzFile zip_;
    os::ReadAtFile& file_;
    std::string archive_;
    std::string entry_;  // the current entry's stored name, printable
    os::StagingFolder& stage_;
    const ExtractProgress& progress_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    std::vector<unsigned char> piece_;
    RawInflater inflater_;
    // Made on the first deflated entry; left uninitialised, as every byte is written before
    // it is read.
    std::unique_ptr<unsigned char[]> compressed_;
    std::unique_ptr<unsigned char[]> inflated_;
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
        return WriteFailed(stage_.ranOutOfRoom(), "cannot make the folder " + Printable(relative));
    folders_.insert(relative);
    return ExtractResult::Done;
}

ExtractResult Extractor::WriteFile(const std::string& relative, const unz_file_info64& info,
                                   const EntrySizes& sizes, unsigned mode, int64_t modifyTime) {
    os::StagingFolder::File out;
    if (!stage_.CreateFile(relative, out))
        return WriteFailed(stage_.ranOutOfRoom(), "cannot create its file");
    // Opened raw: minizip checks the local header and finds where the data starts, and the
    // data is read and inflated here, in large blocks straight from the file.
    if (unzOpenCurrentFile2(zip_, nullptr, nullptr, 1) != UNZ_OK)
        return EntryFailed(ExtractResult::Archive, "its data cannot be opened");
    // The data is checked here, against the directory's CRC-32 and size (the Zip64 size
    // where there is one).
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t size = 0;
    const bool stored = info.compression_method == kStored;
    const ExtractResult result =
        stored ? CopyStored(sizes, out, crc, size) : CopyDeflated(sizes, out, crc, size);
    const bool closed = unzCloseCurrentFile(zip_) == UNZ_OK;
    if (result != ExtractResult::Done) return result;
    if (size != sizes.uncompressed)
        return EntryFailed(ExtractResult::Archive, "size " + std::to_string(size) + ", " +
                                                       std::to_string(sizes.uncompressed) +
                                                       " expected");
    if (crc != info.crc) return EntryFailed(ExtractResult::Archive, "CRC-32 mismatch");
    if (!closed) return EntryFailed(ExtractResult::Archive, "its data does not end cleanly");
    if (!out.Finish(mode, modifyTime)) return WriteFailed(out.ranOutOfRoom(), "cannot finish it");
    return ExtractResult::Done;
}

ExtractResult Extractor::CopyStored(const EntrySizes& sizes, os::StagingFolder::File& out,
                                    uLong& crc, uint64_t& size) {
    // Stored data is the archive's own bytes: read in large blocks straight from the file
    // rather than through minizip's small copies.
    const uint64_t start = unzGetCurrentFileZStreamPos64(zip_);
    while (size < sizes.uncompressed) {
        const auto want =
            static_cast<size_t>(std::min<uint64_t>(piece_.size(), sizes.uncompressed - size));
        const size_t n = file_.ReadThrough(start + size, piece_.data(), want);
        if (n == 0) return EntryFailed(ExtractResult::Archive, "its data ends early");
        const auto taken = TakeData(piece_.data(), n, sizes, out, crc, size);
        if (taken != ExtractResult::Done) return taken;
    }
    return ExtractResult::Done;
}

ExtractResult Extractor::TakeData(const unsigned char* data, size_t count, const EntrySizes& sizes,
                                  os::StagingFolder::File& out, uLong& crc, uint64_t& size) {
    if (count > sizes.uncompressed - size)
        return EntryFailed(ExtractResult::Archive,
                           "more data than its size " + std::to_string(sizes.uncompressed));
    size += count;
    // libdeflate's CRC-32 uses the CPU's carry-less multiply where zlib's does not: on stored
    // entries the check was a quarter of the work.
    crc = libdeflate_crc32(static_cast<uint32_t>(crc), data, count);
    if (!out.Write(reinterpret_cast<const char*>(data), count))
        return WriteFailed(out.ranOutOfRoom(), "cannot write its file");
    done_ += count;
    // A stop leaves the staging folder to go as for a failure.
    if (progress_ && !progress_(done_, total_)) return ExtractResult::Cancelled;
    return ExtractResult::Done;
}

ExtractResult Extractor::CopyDeflated(const EntrySizes& sizes, os::StagingFolder::File& out,
                                      uLong& crc, uint64_t& size) {
    // Some writers give an empty file no deflate stream at all.
    if (sizes.compressed == 0 && sizes.uncompressed == 0) return ExtractResult::Done;
    z_stream* stream = inflater_.Start();
    if (stream == nullptr) return EntryFailed(ExtractResult::Archive, "zlib cannot start");
    if (!compressed_) {
        compressed_ = std::make_unique_for_overwrite<unsigned char[]>(kInflateBlockSize);
        inflated_ = std::make_unique_for_overwrite<unsigned char[]>(kInflateBlockSize);
    }
    const uint64_t start = unzGetCurrentFileZStreamPos64(zip_);
    uint64_t read = 0;  // compressed bytes taken from the archive
    stream->avail_in = 0;
    stream->next_out = inflated_.get();
    stream->avail_out = kInflateBlockSize;
    for (;;) {
        if (stream->avail_in == 0 && read < sizes.compressed) {
            const auto want =
                static_cast<size_t>(std::min<uint64_t>(kInflateBlockSize, sizes.compressed - read));
            const size_t n = file_.ReadThrough(start + read, compressed_.get(), want);
            if (n == 0) return EntryFailed(ExtractResult::Archive, "its data ends early");
            read += n;
            stream->next_in = compressed_.get();
            stream->avail_in = static_cast<uInt>(n);
        }
        const int rc = inflate(stream, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return EntryFailed(ExtractResult::Archive,
                               std::string("its data is damaged (") +
                                   (stream->msg != nullptr ? stream->msg : "zlib error") + ")");
        const bool ended = rc == Z_STREAM_END;
        // Output goes out in whole blocks; inflate stops short of a full block only when it
        // has used all its input.
        if (stream->avail_out == 0 || ended) {
            const size_t produced = kInflateBlockSize - stream->avail_out;
            const auto taken = TakeData(inflated_.get(), produced, sizes, out, crc, size);
            if (taken != ExtractResult::Done) return taken;
            if (ended) return ExtractResult::Done;
            stream->next_out = inflated_.get();
            stream->avail_out = kInflateBlockSize;
        } else if (read == sizes.compressed) {
            // Every byte given, and the stream has not ended.
            return EntryFailed(ExtractResult::Archive, "its data ends early");
        }
    }
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

// The entries' whole size by the central directory, read before any entry is; nothing when
// an entry's sizes cannot be read or could not be true.
std::optional<uint64_t> TotalSize(unzFile zip, uint64_t entries, uint64_t archiveSize) {
    std::vector<unsigned char> extra(kFieldSize);
    uint64_t total = 0;
    int rc = unzGoToFirstFile(zip);
    for (uint64_t i = 0; rc == UNZ_OK && i < entries; rc = unzGoToNextFile(zip), ++i) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, extra.data(), extra.size(), nullptr,
                                    0) != UNZ_OK) {
            return std::nullopt;
        }
        const auto sizes =
            RealSizes(info, extra.data(), std::min<size_t>(info.size_file_extra, extra.size()));
        if (!sizes || !SizesPossible(*sizes, info.compression_method, archiveSize))
            return std::nullopt;
        total += sizes->uncompressed;  // each below 1033 times the archive: no overflow
    }
    return total;
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
    zlib_filefunc64_def access{OpenArchive, ReadArchive,  WriteArchive, TellArchive,
                               SeekArchive, CloseArchive, ArchiveError, &archive};
    unzFile zip = unzOpen2_64(archivePath.c_str(), &access);
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

ExtractResult UnzipToWithCause(const std::string& archivePath, const std::string& destination,
                               const ExtractProgress& progress, const ArchiveCheck& check) {
    std::string folder = destination;
    const auto last = folder.find_last_not_of(" \t\r\n\v\f");
    folder.erase(last == std::string::npos ? 0 : last + 1);
    if (folder.empty()) return ExtractResult::Archive;
    if (folder.back() != '/') folder += '/';
    return ExtractZip(archivePath, folder, progress, check);
}

bool UnzipTo(const std::string& archivePath, const std::string& destination,
             const ExtractProgress& progress) {
    return UnzipToWithCause(archivePath, destination, progress) == ExtractResult::Done;
}
