#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Extraction of zip packages (minizip over zlib).

namespace os {
class ReadAtFile;
}

// How an extraction ended: the folder is in place; the archive, or an entry of it, is
// damaged or uses what we do not extract (or the folder could not be staged or put in place);
// there was no room for it (found before writing anything, or when a write failed); the
// progress callback stopped it; a folder this program did not make holds the destination's
// name and was left alone; the archive check refused the archive; or a program runs in the
// previous folder, which stays.
enum class ExtractResult { Done, Archive, Disk, Cancelled, Conflict, Refused, InUse };

// Extracts the archive at `archivePath` as the folder `destination` (trailing "/" or none).
// The entries are written into a staging folder inside the cache's own staging folder
// "<parent>/.maplenook/" (see StagingNames.h) and checked as they go: only stored and deflated
// entries, each one's CRC-32 and size as the central directory gives them (Zip64 sizes included).
// Only when every entry checked out does the staging folder replace `destination` in one rename
// (the previous folder, which must carry this program's mark, is removed afterwards; any other is
// never touched), so a failure or a kill at any moment leaves the previous complete folder, or
// none. Before anything is written, the entries' whole size plus a margin (a fiftieth, at
// least 1 MiB) must fit in the free space where the folder goes. Entry times and, for
// archives made on Unix, permission bits within the umask and without write for group or
// others are restored; every special entry (a link, a FIFO, ...) becomes a plain file holding
// its data. Entries whose names would land outside the destination are skipped.
// `progress`, when given, hears the bytes written so far and the entries' whole size as the
// extraction goes, and stops it by returning false.
// `check`, when given, sees the opened archive before a single entry is read, through the
// descriptor the extraction then reads (so it judges the very bytes that are extracted).
using ExtractProgress = std::function<bool(uint64_t done, uint64_t total)>;
struct ArchiveCheck {
    // False refuses the archive.
    std::function<bool(os::ReadAtFile& archive)> accepts;
    // What the published folder's mark records of an archive the check accepted.
    std::vector<std::pair<std::string, std::string>> markFields;
    explicit operator bool() const { return static_cast<bool>(accepts); }
};
ExtractResult ExtractZip(const std::string& archivePath, const std::string& destination,
                         const ExtractProgress& progress = {}, const ArchiveCheck& check = {});

// The relative path an entry's stored name stands for ("\" read as "/", "." and empty parts
// dropped), or nothing when the name would land outside the destination: absolute names,
// drive names ("C:..."), any ".." part, or a NUL byte.
std::optional<std::string> SafeEntryPath(const std::string& storedName);

// An entry's stored name as UTF-8: as stored when the archive flags it UTF-8 (nothing when it
// is not valid UTF-8), else the Info-ZIP Unicode path of `extra` when it belongs to this name,
// else the name as stored when it is valid UTF-8 (what Unix archivers write), else the name
// in the makers' legacy code page (a build option, GBK by default), else in CP437.
std::optional<std::string> EntryNameUtf8(const std::string& storedName, bool utf8Flag,
                                         const unsigned char* extra, size_t extraSize);
