#include "package/PackagePaths.h"

#include "base/Settings.h"
#include "package/StagingNames.h"

namespace {

// "/a//b/" and "/a/b" name the same folder.
std::string NormalFolder(const std::string& path) {
    std::string normal;
    for (const char c : path) {
        if (c == '/' && !normal.empty() && normal.back() == '/') continue;
        normal += c;
    }
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

}  // namespace

std::optional<std::string> PackageBaseName(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    return fileName.substr(0, dot);
}

std::optional<std::string> PackageArchiveName(const std::string& url) {
    const auto slash = url.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    return url.substr(slash + 1);
}

std::string FileSystemPathOf(const std::string& moduleDirectory, const std::string& text) {
    if (!text.empty() && text.front() == '\\') return JoinModulePath(moduleDirectory, text);
    return JoinModulePath({}, text);
}

ResolvedCache ResolveCacheSetting(const std::string& moduleDirectory,
                                  const std::string& cacheSetting, const std::string& defaultFolder,
                                  const std::function<bool(const std::string&)>& acceptable) {
    const auto folderOf = [&](const std::string& setting) {
        // No setting at all would otherwise name the module directory.
        if (setting.empty()) return std::string();
        std::string folder = FileSystemPathOf(moduleDirectory, setting);
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        return folder;
    };
    const ResolvedCache fallback{defaultFolder, folderOf(defaultFolder)};
    if (cacheSetting.empty() || cacheSetting == defaultFolder) return fallback;
    ResolvedCache set{cacheSetting, folderOf(cacheSetting)};
    if (NormalFolder(set.folder) == NormalFolder(moduleDirectory)) return fallback;
    if (acceptable && !acceptable(set.folder)) return fallback;
    return set;
}

std::optional<PackagePlace> PlacePackage(const std::string& cacheFolder,
                                         const std::string& fileName) {
    const auto base = PackageBaseName(fileName);
    if (cacheFolder.empty() || !base) return std::nullopt;
    // The page names a file, not a path: nothing it sends may reach outside the cache folder.
    if (fileName.find_first_of("/\\") != std::string::npos || base->empty() || *base == "." ||
        *base == ".." || *base == kStagingHomeName || IsStagingName(*base))
        return std::nullopt;
    PackagePlace place;
    place.cacheFolder = cacheFolder;
    place.stagingHome = StagingHomeOf(cacheFolder);
    place.base = *base;
    place.fileName = fileName;
    // Only the root ends in "/".
    place.folder = (cacheFolder.back() == '/' ? cacheFolder : cacheFolder + "/") + *base;
    place.program = place.folder + "/" + fileName;
    return place;
}
