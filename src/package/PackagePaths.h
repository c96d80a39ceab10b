#pragma once
#include <functional>
#include <optional>
#include <string>

// Names and cache paths of a tool package: a zip archive at a URL holding one program file at
// its top level. A cache setting is text as the settings store it ("\" separators, "\..." for
// the module directory); ResolveCacheSetting turns it into a folder, and everything after that
// works on folders.

// The file name cut at its last "."; none when it has no ".".
std::optional<std::string> PackageBaseName(const std::string& fileName);

// The URL's text after its last "/"; none when it has no "/" (an empty URL included).
std::optional<std::string> PackageArchiveName(const std::string& url);

// A stored path text as a file-system path: "\" becomes "/", and a text that starts with "\"
// is relative to the module directory (an empty cache folder therefore means the module
// directory, never the file system's root).
std::string FileSystemPathOf(const std::string& moduleDirectory, const std::string& text);

// What a cache setting comes to.
struct ResolvedCache {
    std::string setting;  // the setting in use: as set, or the default folder in its place
    std::string folder;   // the folder it names, without a trailing "/"; empty when none
};

// The cache a task works in: `cacheSetting` as set, or `defaultFolder` when the setting is
// empty, names the module directory itself (the installed files are never a cache) or names a
// folder `acceptable` (when given) refuses.
ResolvedCache ResolveCacheSetting(const std::string& moduleDirectory,
                                  const std::string& cacheSetting, const std::string& defaultFolder,
                                  const std::function<bool(const std::string&)>& acceptable);

// Where one package lives in a resolved cache folder.
struct PackagePlace {
    std::string cacheFolder;  // as resolved: without a trailing "/"
    std::string stagingHome;  // <cache>/.maplenook: downloads and extractions in progress
    std::string base;         // the file name cut at its last "."
    std::string fileName;
    std::string folder;   // <cache>/<base>: the extraction folder and working directory
    std::string program;  // <cache>/<base>/<file name>: present exactly when this file exists
};

// The place of `fileName` in the resolved `cacheFolder` (ResolvedCache::folder); none when there
// is no cache folder, the file name has no base name or an empty one (".exe"), holds a path
// separator, its base name is "." or "..", or its folder would carry a name the cache uses for
// work in progress (its staging folder included).
std::optional<PackagePlace> PlacePackage(const std::string& cacheFolder,
                                         const std::string& fileName);
