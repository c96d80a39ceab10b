#include "package/ZipChecks.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "BuildConfig.h"
#include "os/DiagnosticLog.h"
#include "os/TextEncoding.h"

namespace zip {
namespace {

// Deflate gives at most 1032 bytes for one of input; a claim beyond that cannot be true.
constexpr uint64_t kMostDeflateGrowth = 1033;

}  // namespace

bool SizesPossible(const EntrySizes& sizes, unsigned long method, uint64_t archiveSize) {
    if (sizes.compressed > archiveSize) return false;
    if (method == kStored) return sizes.compressed == sizes.uncompressed;
    return sizes.uncompressed / kMostDeflateGrowth <= sizes.compressed;
}

ExtractResult Failure(bool outOfRoom) {
    return outOfRoom ? ExtractResult::Disk : ExtractResult::Archive;
}

std::string Printable(const std::string& text) {
    std::string printable = text;
    for (auto& c : printable) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return printable;
}

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

std::string ErrnoText() {
    return std::strerror(errno);
}

}  // namespace zip

namespace {

constexpr uint16_t kUnicodePathId = 0x7075;     // "up": the name in UTF-8
const char* const kFallbackCodePage = "CP437";  // the code page of the zip format itself

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
    const unsigned char* up = zip::FindExtraField(extra, extraSize, kUnicodePathId, length);
    if (up != nullptr && length > 5 && up[0] == 1) {
        const uLong nameCrc =
            crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(storedName.data()),
                  static_cast<uInt>(storedName.size()));
        const std::string unicode(reinterpret_cast<const char*>(up + 5), length - 5u);
        if (zip::Le32(up + 1) == nameCrc && unicode.find('\0') == std::string::npos &&
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
