#include "phone/ZipExtract.h"

#include "os/FileOps.h"

#include <minizip/unzip.h>

#include <cstdint>
#include <ctime>
#include <utility>
#include <vector>

namespace {

constexpr size_t kPieceSize = 16384;
constexpr unsigned long kMadeOnUnix = 3;
constexpr unsigned kFileTypeMask = 0170000;
constexpr unsigned kSymlinkType = 0120000;
constexpr uint16_t kExtendedTimestampId = 0x5455;  // "UT": modification time in UTC

struct ZipCloser {
    unzFile zip;
    ~ZipCloser() { unzClose(zip); }
};

struct EntryFacts {
    std::string storedName;
    bool hasUnixMode = false;
    unsigned unixMode = 0;
    int64_t modifyTime = 0;
};

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// The "UT" extra field carries the exact modification time; the DOS date has two-second steps
// and no time zone, so it is only the fallback.
std::optional<int64_t> ExtendedModifyTime(const unsigned char* extra, size_t size) {
    size_t at = 0;
    while (at + 4 <= size) {
        const uint16_t id = Le16(extra + at);
        const uint16_t length = Le16(extra + at + 2);
        const unsigned char* data = extra + at + 4;
        if (at + 4 + length > size) break;
        if (id == kExtendedTimestampId && length >= 5 && (data[0] & 1) != 0) {
            const uint32_t raw = static_cast<uint32_t>(data[1]) | (data[2] << 8) | (data[3] << 16) |
                                 (static_cast<uint32_t>(data[4]) << 24);
            return static_cast<int64_t>(static_cast<int32_t>(raw));
        }
        at += 4 + length;
    }
    return std::nullopt;
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

bool ReadEntryFacts(unzFile zip, EntryFacts& facts) {
    unz_file_info64 info{};
    std::vector<char> name(65536);
    std::vector<unsigned char> extra(65536);
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), extra.data(), extra.size(),
                                nullptr, 0) != UNZ_OK) {
        return false;
    }
    facts.storedName.assign(name.data(), info.size_filename);
    const auto stamped = ExtendedModifyTime(extra.data(), info.size_file_extra);
    facts.modifyTime = stamped ? *stamped : DosLocalTime(info.tmu_date);
    const unsigned mode = static_cast<unsigned>(info.external_fa >> 16);
    // Some tools claim Unix and store no mode at all; that is no information, not mode 0000.
    facts.hasUnixMode = (info.version >> 8) == kMadeOnUnix && (mode & 07777) != 0;
    facts.unixMode = mode;
    return true;
}

bool WriteEntryData(unzFile zip, const std::string& path) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
    os::OutputFile out;
    bool ok = out.Open(path);
    std::vector<char> piece(kPieceSize);
    while (ok) {
        const int n = unzReadCurrentFile(zip, piece.data(), static_cast<unsigned>(piece.size()));
        if (n < 0) ok = false;
        if (n <= 0) break;
        ok = out.Write(piece.data(), static_cast<size_t>(n));
    }
    // Closing checks the CRC of everything read.
    ok = (unzCloseCurrentFile(zip) == UNZ_OK) && ok;
    if (!ok) {
        out.Discard();
        return false;
    }
    if (!out.Close()) {
        os::RemoveFile(path);
        return false;
    }
    return true;
}

bool EndsWithSeparator(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

// Folder modes are applied after every entry is in, so that a read-only folder does not
// refuse its own files.
using FolderModes = std::vector<std::pair<std::string, unsigned>>;

bool ExtractCurrentEntry(unzFile zip, const std::string& destination, FolderModes& folderModes) {
    EntryFacts facts;
    if (!ReadEntryFacts(zip, facts)) return false;
    const auto relative = SafeEntryPath(facts.storedName);
    if (!relative) return false;
    if (relative->empty()) return true;
    const std::string path = destination + *relative;

    if (EndsWithSeparator(facts.storedName)) {
        if (!os::CreateDirectories(path)) return false;
        if (facts.hasUnixMode) folderModes.emplace_back(path, facts.unixMode);
        return true;
    }
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) os::CreateDirectories(path.substr(0, slash));
    if (!WriteEntryData(zip, path)) return false;
    // A symbolic link entry becomes a plain file holding the link text, never a link.
    if (facts.hasUnixMode && (facts.unixMode & kFileTypeMask) != kSymlinkType) {
        os::SetFileMode(path, facts.unixMode);
    }
    os::SetFileTimes(path, facts.modifyTime, facts.modifyTime);
    return true;
}

}  // namespace

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

bool ExtractZip(const std::string& archivePath, const std::string& destination) {
    unzFile zip = unzOpen64(archivePath.c_str());
    if (zip == nullptr) return false;
    ZipCloser closer{zip};
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) return false;
    // An archive whose directory cannot even be entered leaves no empty destination behind.
    int rc = unzGoToFirstFile(zip);
    if (global.number_entry > 0 && rc != UNZ_OK) return false;
    if (!os::CreateDirectories(destination)) return false;

    bool allExtracted = true;
    FolderModes folderModes;
    uint64_t index = 0;
    for (; rc == UNZ_OK && index < global.number_entry; rc = unzGoToNextFile(zip), ++index) {
        if (!ExtractCurrentEntry(zip, destination, folderModes)) allExtracted = false;
    }
    // A central directory that ends early leaves entries nobody could reach.
    if (index < global.number_entry) allExtracted = false;
    for (const auto& [path, mode] : folderModes) os::SetFileMode(path, mode);
    return allExtracted;
}
