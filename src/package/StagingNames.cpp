#include "package/StagingNames.h"

#include <array>
#include <random>

namespace {

constexpr std::array<const char*, 2> kKinds = {".unzip-", ".part-"};
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

// The package name a staging name stands for, or false.
bool SplitStagingName(const std::string& entryName, std::string& name) {
    if (entryName.size() < 1 + kUniqueLength || entryName[0] != '.') return false;
    const size_t uniqueAt = entryName.size() - kUniqueLength;
    if (!IsUniquePart(entryName, uniqueAt)) return false;
    for (const std::string kind : kKinds) {
        if (uniqueAt < 1 + kind.size()) continue;
        const size_t kindAt = uniqueAt - kind.size();
        if (entryName.compare(kindAt, kind.size(), kind) == 0) {
            name = entryName.substr(1, kindAt - 1);
            return true;
        }
    }
    return false;
}

}  // namespace

std::string ExtractionStagingPrefix(const std::string& name) {
    return "." + name + kKinds[0];
}

std::string DownloadStagingPrefix(const std::string& name) {
    return "." + name + kKinds[1];
}

std::string UniqueStagingSuffix() {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
    std::string suffix;
    for (size_t i = 0; i < kUniqueLength; ++i) suffix += kAlphabet[pick(random)];
    return suffix;
}

bool IsStagingName(const std::string& entryName) {
    std::string name;
    return SplitStagingName(entryName, name);
}

bool IsStagingNameOf(const std::string& entryName, const std::string& name) {
    std::string of;
    return SplitStagingName(entryName, of) && of == name;
}

std::string StagingHomeOf(const std::string& cacheFolder) {
    if (!cacheFolder.empty() && cacheFolder.back() == '/') return cacheFolder + kStagingHomeName;
    return cacheFolder + "/" + kStagingHomeName;
}
