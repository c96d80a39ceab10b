#include "package/StagingNames.h"

#include <array>
#include <cstdint>
#include <random>

namespace {

constexpr std::array<const char*, 3> kKinds = {".unzip-", ".part-", ".resume-"};
constexpr size_t kUniqueLength = 6;

bool IsUniquePart(const std::string& text, size_t from) {
    if (text.size() - from != kUniqueLength) return false;
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) return false;
    }
    return true;
}

constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr size_t kAlphabetSize = sizeof kAlphabet - 1;

}  // namespace

bool SplitStagingName(const std::string& entryName, StagingNameParts& parts) {
    if (entryName.size() < 1 + kUniqueLength || entryName[0] != '.') return false;
    const size_t uniqueAt = entryName.size() - kUniqueLength;
    if (!IsUniquePart(entryName, uniqueAt)) return false;
    for (const std::string kind : kKinds) {
        if (uniqueAt < 1 + kind.size()) continue;
        const size_t kindAt = uniqueAt - kind.size();
        if (entryName.compare(kindAt, kind.size(), kind) == 0) {
            parts.name = entryName.substr(1, kindAt - 1);
            parts.kind = kind;
            parts.suffix = entryName.substr(uniqueAt);
            return true;
        }
    }
    return false;
}

std::string ExtractionStagingPrefix(const std::string& name) {
    return "." + name + kKinds[0];
}

std::string DownloadStagingPrefix(const std::string& name) {
    return "." + name + kKinds[1];
}

std::string ResumeStagingPrefix(const std::string& name) {
    return "." + name + kKinds[2];
}

std::string UniqueStagingSuffix() {
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, kAlphabetSize - 1);
    std::string suffix;
    for (size_t i = 0; i < kUniqueLength; ++i) suffix += kAlphabet[pick(random)];
    return suffix;
}

std::string AddressStagingSuffix(const std::string& address) {
    // FNV-1a: stable across runs and builds, which std::hash need not be.
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : address) hash = (hash ^ c) * 1099511628211ull;
    std::string suffix;
    for (size_t i = 0; i < kUniqueLength; ++i, hash /= kAlphabetSize)
        suffix += kAlphabet[hash % kAlphabetSize];
    return suffix;
}

bool IsStagingName(const std::string& entryName) {
    StagingNameParts parts;
    return SplitStagingName(entryName, parts);
}

bool IsStagingNameOf(const std::string& entryName, const std::string& name) {
    StagingNameParts parts;
    return SplitStagingName(entryName, parts) && parts.name == name;
}

std::string StagingHomeOf(const std::string& cacheFolder) {
    if (!cacheFolder.empty() && cacheFolder.back() == '/') return cacheFolder + kStagingHomeName;
    return cacheFolder + "/" + kStagingHomeName;
}
