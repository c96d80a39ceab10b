#pragma once
#include <minizip/unzip.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "os/ReadAtFile.h"

// A zip archive's directory as minizip reads it: the archive opened over a reader of large
// blocks, and what each entry's header says beyond minizip's own fields (Zip64 sizes, exact
// times, extra fields).
namespace zip {

inline constexpr size_t kFieldSize = 65536;  // a stored name or extra field is at most this long
inline constexpr unsigned long kStored = 0;
inline constexpr unsigned long kDeflated = 8;

// minizip reads the archive through this: a position over a reader that keeps a few large
// blocks, instead of a seek and a small read on a stdio stream for every header.
struct ArchiveStream {
    os::ReadAtFile file;
    uint64_t position = 0;
};

// minizip over `archive`, whose file is open; null when no central directory is found.
unzFile OpenArchive(ArchiveStream& archive, const std::string& path);

struct ZipCloser {
    unzFile zip;
    ~ZipCloser() { unzClose(zip); }
};

uint16_t Le16(const unsigned char* p);
uint32_t Le32(const unsigned char* p);

// The data of the first extra field `id`, or null.
const unsigned char* FindExtraField(const unsigned char* extra, size_t size, uint16_t id,
                                    uint16_t& length);

// The "UT" extra field's modification time (UTC), when there is one.
std::optional<int64_t> ExtendedModifyTime(const unsigned char* extra, size_t size);
// The DOS date and time, read as local time.
int64_t DosLocalTime(const tm_unz& date);

struct EntrySizes {
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
};

// An entry's sizes. A central directory size of 0xFFFFFFFF means the real one is in the Zip64
// field, which holds 8-byte values for only the marked sizes, uncompressed first (Info-ZIP's
// "zip -fz" marks the uncompressed size of every entry). minizip 1.1 as Debian builds it
// passes the marker on unread, so the field is read here. Nothing when the field is short.
std::optional<EntrySizes> RealSizes(const unz_file_info64& info, const unsigned char* extra,
                                    size_t extraSize);

// The entries' whole size by the central directory, read before any entry is; nothing when
// an entry's sizes cannot be read or could not be true.
std::optional<uint64_t> TotalSize(unzFile zip, uint64_t entries, uint64_t archiveSize);

}  // namespace zip
