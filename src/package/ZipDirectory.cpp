#include "package/ZipDirectory.h"

#include <ctime>
#include <utility>
#include <vector>

#include "package/ZipChecks.h"

namespace zip {
namespace {

constexpr uint16_t kZip64Id = 0x0001;              // 8-byte sizes and offset
constexpr uint64_t kZip64Marker = 0xFFFFFFFF;      // "the real value is in the Zip64 field"
constexpr uint16_t kExtendedTimestampId = 0x5455;  // "UT": modification time in UTC

voidpf ZCALLBACK OpenStream(voidpf opaque, const void*, int mode) {
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

uint64_t Le64(const unsigned char* p) {
    return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

}  // namespace

unzFile OpenArchive(ArchiveStream& archive, const std::string& path) {
    zlib_filefunc64_def access{OpenStream,  ReadArchive,  WriteArchive, TellArchive,
                               SeekArchive, CloseArchive, ArchiveError, &archive};
    return unzOpen2_64(path.c_str(), &access);
}

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

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

}  // namespace zip
