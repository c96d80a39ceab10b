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

std::optional<PackageLocation> LocatePackage(const std::string& moduleDirectory,
                                             const std::string& cacheDir,
                                             const std::string& fileName) {
    const auto base = PackageBaseName(fileName);
    if (!base) return std::nullopt;
    // The page names a file, not a path: nothing it sends may reach outside the cache folder.
    if (fileName.find_first_of("/\\") != std::string::npos || base->empty() || *base == "." ||
        *base == ".." || *base == kStagingHomeName || IsStagingName(*base))
        return std::nullopt;
    return PackageLocation{
        FileSystemPathOf(moduleDirectory, cacheDir + "\\" + *base + "\\"),
        FileSystemPathOf(moduleDirectory, cacheDir + "\\" + *base + "\\" + fileName)};
}

std::string CacheFolderOf(const std::string& moduleDirectory, const std::string& cacheDir) {
    return FileSystemPathOf(moduleDirectory, cacheDir + "\\");
}

std::string UsableCacheDir(const std::string& moduleDirectory, const std::string& cacheDir,
                           const std::string& defaultDir) {
    if (cacheDir.empty()) return defaultDir;
    const bool installedFolder =
        NormalFolder(CacheFolderOf(moduleDirectory, cacheDir)) == NormalFolder(moduleDirectory);
    return installedFolder ? defaultDir : cacheDir;
}
